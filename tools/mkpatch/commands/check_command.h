// mkpatch check: what the updater would do in one game directory.
#pragma once

#include <ostream>

#include "mkpatch/commands/options.h"

int RunCheck(const Options& options, std::ostream& out, std::ostream& err);
