// mkpatch extract: every entry written below a directory.
#pragma once

#include <ostream>

#include "mkpatch/commands/options.h"

int RunExtract(const Options& options, std::ostream& out, std::ostream& err);
