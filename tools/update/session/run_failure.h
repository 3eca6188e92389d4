// The outcome of one update run as it goes: a Win32 error code (0 while all
// is well) and the text, if any, that the user is shown and the log receives.
#pragma once

#include <windows.h>

#include <cstdarg>

#include "update/base/bounded_format.h"

// Failure texts are cut to this many bytes, terminator included.
constexpr size_t RUN_FAILURE_TEXT_SIZE = 100;

struct RunFailure {
  DWORD code = 0;
  char text[RUN_FAILURE_TEXT_SIZE] = {};

  bool Failed() const { return code != 0; }
  // A failure that is not shown: the caller's general message covers it.
  void Set(DWORD failureCode) { code = failureCode != 0 ? failureCode : ERROR_FILE_CORRUPT; }
  void Set(DWORD failureCode, const char* format, ...) PRINTF_CHECK(3, 4) {
    Set(failureCode);
    va_list args;
    va_start(args, format);
    FormatFittedV(text, sizeof text, format, args);
    va_end(args);
  }
};
