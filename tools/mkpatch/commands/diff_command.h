// mkpatch diff: an updater that brings the game from one release tree to the
// next, shipping only what changed.
#pragma once

#include <ostream>

#include "mkpatch/commands/options.h"

// 0 on success, 1 when the inputs are refused; never leaves a partial output.
int RunDiff(const Options& options, std::ostream& out, std::ostream& err);
