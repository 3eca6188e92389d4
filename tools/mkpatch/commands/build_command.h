// mkpatch build: a stub (or nothing) followed by the payload and trailer.
#pragma once

#include <ostream>

#include "mkpatch/commands/options.h"

// 0 on success, 1 when the inputs are refused; never leaves a partial output.
int RunBuild(const Options& options, std::ostream& out, std::ostream& err);
