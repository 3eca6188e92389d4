// The encoder's side-by-side runs: every piece runs once whatever the
// threads do, on no more threads than allowed (only the caller's in a 32-bit
// build), and a failure reaches the caller as the first failing piece's,
// after the pieces still running have ended.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "mkpatch/codec/side_by_side.h"

namespace {

TEST(SideBySide, RunsEveryPieceOnceOnTheThreadsAllowed) {
  for (size_t count : {size_t(0), size_t(1), size_t(2), size_t(3), size_t(200)}) {
    std::vector<std::atomic<int>> runs(count);
    std::mutex mutex;
    std::set<std::thread::id> threads;
    RunSideBySide(count, [&](size_t i) {
      runs[i]++;
      std::lock_guard<std::mutex> lock(mutex);
      threads.insert(std::this_thread::get_id());
    });
    for (size_t i = 0; i < count; ++i) EXPECT_EQ(runs[i].load(), 1) << i << " of " << count;
    EXPECT_LE(threads.size(), 1 + kSideBySideWorkers) << count;
    if (kSideBySideWorkers == 0 && count > 0) {
      EXPECT_EQ(*threads.begin(), std::this_thread::get_id());
    }
  }
}

TEST(SideBySide, RethrowsTheFirstFailingPieceAfterTheOthersEnded) {
  std::atomic<int> running{0};
  std::atomic<int> unfinished{0};
  try {
    RunSideBySide(64, [&](size_t i) {
      running++;
      // Pieces are taken in order, so 5 has run whenever 9 has: the
      // failure that comes out is 5's even when 9 failed first.
      if (i == 5 || i == 9) {
        running--;
        throw std::runtime_error("piece " + std::to_string(i));
      }
      std::this_thread::yield();
      running--;
    });
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()), "piece 5");
    unfinished = running.load();
  }
  EXPECT_EQ(unfinished.load(), 0) << "a piece was still running when the failure came out";
}

}  // namespace
