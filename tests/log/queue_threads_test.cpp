// Several posting threads and several worker threads on one queue: each
// item handled exactly once, and items of one poster in posting order when
// one worker takes them.
#include <stdlib.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "update/log/work_queue.h"

namespace {

const int kPosters = 4, kPerPoster = 200;
std::atomic<int> g_seen[kPosters * kPerPoster];
std::mutex g_orderMutex;
std::vector<int> g_order;

int CountingHandler(WorkItem* item) {
  ++g_seen[item->id];
  std::lock_guard<std::mutex> guard(g_orderMutex);
  g_order.push_back(item->id);
  return 0;
}

void PostFromThreads(WorkQueue& queue) {
  std::vector<std::thread> posters;
  for (int t = 0; t < kPosters; ++t) {
    posters.emplace_back([&queue, t] {
      for (int i = 0; i < kPerPoster; ++i) queue.Post(t * kPerPoster + i, malloc(1), 1, false, 3);
    });
  }
  for (auto& poster : posters) poster.join();
}

void Reset() {
  for (auto& seen : g_seen) seen = 0;
  g_order.clear();
}

TEST(QueueThreadsTest, ManyPostersAndWorkersHandleEachItemOnce) {
  Reset();
  WorkQueue queue(true);
  ASSERT_TRUE(queue.Create(CountingHandler, 4, "many"));
  PostFromThreads(queue);
  EXPECT_TRUE(queue.Stop());
  for (int id = 0; id < kPosters * kPerPoster; ++id) EXPECT_EQ(g_seen[id].load(), 1) << id;
}

TEST(QueueThreadsTest, OneWorkerKeepsEachPostersOrder) {
  Reset();
  WorkQueue queue(true);
  ASSERT_TRUE(queue.Create(CountingHandler, 1, "order"));
  PostFromThreads(queue);
  EXPECT_TRUE(queue.Stop());
  ASSERT_EQ(g_order.size(), static_cast<size_t>(kPosters * kPerPoster));
  int next[kPosters] = {};
  for (int id : g_order) EXPECT_EQ(id % kPerPoster, next[id / kPerPoster]++) << id;
}

}  // namespace
