#include "update/log/log_clock.h"

#include <time.h>

namespace {
void RealLocalTime(SYSTEMTIME* now) { GetLocalTime(now); }
int32_t RealSeconds() { return static_cast<int32_t>(time(nullptr)); }
}  // namespace

LogClock RealLogClock() {
  LogClock clock = {RealLocalTime, RealSeconds};
  return clock;
}
