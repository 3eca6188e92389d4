// The waits before a held file is tried again: growing, capped, and ten
// seconds in all for one file, however the waits fall.
#include "update/base/retry_schedule.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint32_t> WholeSchedule() {
  std::vector<uint32_t> waits;
  uint32_t waited = 0;
  for (uint32_t retry = 0;; ++retry) {
    const uint32_t wait = NextRetryWaitMs(retry, waited);
    if (wait == 0) break;
    waits.push_back(wait);
    waited += wait;
    if (waits.size() > 1000) break;  // a schedule that never ends fails below
  }
  return waits;
}

TEST(RetrySchedule, GrowsFromShortWaitsToTheCapAndSpendsTheBudgetExactly) {
  const std::vector<uint32_t> waits = WholeSchedule();
  EXPECT_EQ((std::vector<uint32_t>{50, 100, 200, 400, 800, 1600, 2000, 2000, 2000, 850}), waits);
  uint32_t total = 0;
  for (uint32_t wait : waits) total += wait;
  EXPECT_EQ(FILE_RETRY_BUDGET_MS, total);
}

TEST(RetrySchedule, NeverWaitsPastTheBudget) {
  EXPECT_EQ(0u, NextRetryWaitMs(0, FILE_RETRY_BUDGET_MS));
  EXPECT_EQ(0u, NextRetryWaitMs(3, FILE_RETRY_BUDGET_MS + 1));
  EXPECT_EQ(1u, NextRetryWaitMs(0, FILE_RETRY_BUDGET_MS - 1));
  // Far past the doubling: still the cap, no overflow.
  EXPECT_EQ(FILE_RETRY_LONGEST_WAIT_MS, NextRetryWaitMs(31, 0));
  EXPECT_EQ(FILE_RETRY_LONGEST_WAIT_MS, NextRetryWaitMs(0xFFFFFFFFu, 0));
}

}  // namespace
