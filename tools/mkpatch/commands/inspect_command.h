// mkpatch list and mkpatch verify.
#pragma once

#include <ostream>

#include "mkpatch/commands/options.h"

int RunList(const Options& options, std::ostream& out, std::ostream& err);
int RunVerify(const Options& options, std::ostream& out, std::ostream& err);
