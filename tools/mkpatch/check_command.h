// mkpatch check: what the updater would do in one game directory.
#pragma once

#include <ostream>

#include "options.h"

int RunCheck(const Options& options, std::ostream& out, std::ostream& err);
