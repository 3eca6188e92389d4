// How long the run waits before it tries a held file again: short waits at
// first (a scanner usually lets go within a few milliseconds), growing ones
// after, and no more than FILE_RETRY_BUDGET_MS for one file in all, so that a
// file held for good ends the run after about ten seconds, not never.
#pragma once

#include <cstdint>

// The most the run waits for one file, over all its attempts.
constexpr uint32_t FILE_RETRY_BUDGET_MS = 10000;
// The first wait, doubled after each attempt up to FILE_RETRY_LONGEST_WAIT_MS.
constexpr uint32_t FILE_RETRY_FIRST_WAIT_MS = 50;
constexpr uint32_t FILE_RETRY_LONGEST_WAIT_MS = 2000;

// The wait before retry number `retry` (0 for the first retry), given that
// `waitedMs` have been waited for this file already; 0 once the budget is
// spent, which means: give up.
uint32_t NextRetryWaitMs(uint32_t retry, uint32_t waitedMs);
