#include "update/base/retry_schedule.h"

uint32_t NextRetryWaitMs(uint32_t retry, uint32_t waitedMs) {
  if (waitedMs >= FILE_RETRY_BUDGET_MS) return 0;
  uint32_t wait = FILE_RETRY_LONGEST_WAIT_MS;
  // Shifting by 32 or more is undefined; the cap is reached long before.
  if (retry < 16) {
    const uint32_t doubled = FILE_RETRY_FIRST_WAIT_MS << retry;
    if (doubled < wait) wait = doubled;
  }
  const uint32_t left = FILE_RETRY_BUDGET_MS - waitedMs;
  return wait < left ? wait : left;
}
