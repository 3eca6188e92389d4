// mkpatch as a function, so tests can run it without a process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// `args` without the program name, as UTF-8. Returns the exit code:
// 0 ok, 1 invalid input, 2 usage error.
int RunMkpatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
