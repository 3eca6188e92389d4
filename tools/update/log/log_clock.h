// Where the log reads the time. Tests replace it to cross midnight or jump
// the silence-notice clock without waiting.
#pragma once

#include <windows.h>
#include <stdint.h>

struct LogClock {
  void (*localTime)(SYSTEMTIME* now);  // date and time stamped on each line
  int32_t (*seconds)();                // time() for the silence notice
};

LogClock RealLogClock();
