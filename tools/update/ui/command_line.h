// The game directory given on the command line (automatic mode).
#pragma once

#include <cstddef>

enum class CommandLineDir {
  None,     // no argument after the program path: interactive mode
  Stored,   // the first argument is in the buffer (it may be empty)
  TooLong,  // its ANSI form does not fit; the buffer is left empty
};

// Splits `commandLine` (ANSI, as GetCommandLineA gives it) with the shell's
// rules and copies the first argument after the program path, in the
// thread's ANSI code page, into `dir` (capacity `dirSize`, terminator
// included). Arguments after the first are ignored.
CommandLineDir ReadCommandLineDir(const char* commandLine, char* dir, size_t dirSize);
