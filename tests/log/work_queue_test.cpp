// Ownership, shutdown, probe and ordering of the completion-port queue.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "log_test_support.h"
#include "update/log/logger.h"
#include "update/log/work_queue.h"

namespace {

// Every block the queue takes or gives back, so a test sees exactly which
// buffers were freed and catches a double or foreign free.
struct Ledger {
  std::mutex mutex;
  std::set<void*> live;
  int foreignFrees = 0;
  std::atomic<int> failAllocations{0};  // the next n allocations fail
  std::vector<std::string> events;      // handler calls and reports, in order
  std::atomic<DWORD> ticks{0};
  std::atomic<int> tickStep{0};  // added after each tick read
  // Set once a thread has reported its quit packet, its last act.
  HANDLE quitReported = CreateEventA(nullptr, TRUE, FALSE, nullptr);
} ledger;

void* CountedAllocate(size_t size) {
  if (ledger.failAllocations > 0) {
    --ledger.failAllocations;
    return nullptr;
  }
  void* block = malloc(size);
  std::lock_guard<std::mutex> guard(ledger.mutex);
  ledger.live.insert(block);
  return block;
}

void CountedRelease(void* block) {
  if (!block) return;
  std::lock_guard<std::mutex> guard(ledger.mutex);
  if (ledger.live.erase(block) == 0) ++ledger.foreignFrees;
  free(block);
}

DWORD SteppedTicks() { return ledger.ticks.fetch_add(ledger.tickStep); }

void Record(const std::string& event) {
  std::lock_guard<std::mutex> guard(ledger.mutex);
  ledger.events.push_back(event);
}

void CaptureReport(int level, const char* text) {
  Record(std::to_string(level) + " " + text);
  if (strstr(text, "WQ_QUIT")) SetEvent(ledger.quitReported);
}

int RecordingHandler(WorkItem* item) {
  Record("item " + std::to_string(item->id) + " " +
         std::string(static_cast<const char*>(item->data), item->dataSize));
  return 0;
}

HANDLE g_release;
int BlockingHandler(WorkItem* item) {
  WaitForSingleObject(g_release, INFINITE);
  return RecordingHandler(item);
}

class WorkQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::lock_guard<std::mutex> guard(ledger.mutex);
    ledger.live.clear();
    ledger.events.clear();
    ledger.foreignFrees = 0;
    ledger.failAllocations = 0;
    ledger.ticks = 1000;
    ledger.tickStep = 0;
    ResetEvent(ledger.quitReported);
  }
  void Install(WorkQueue& queue) {
    WorkQueueHooks hooks = {CountedAllocate, CountedRelease, SteppedTicks, CaptureReport};
    queue.SetHooks(hooks);
  }
  void* Buffer(const char* text) {
    void* block = CountedAllocate(strlen(text));
    memcpy(block, text, strlen(text));
    return block;
  }
  size_t Live() {
    std::lock_guard<std::mutex> guard(ledger.mutex);
    return ledger.live.size();
  }
};

TEST_F(WorkQueueTest, RefusedCreateLeavesQueueStoppedAndFreesPostedBuffers) {
  WorkQueue nullHandler(true), tooMany(true), none(true);
  Install(nullHandler);
  EXPECT_FALSE(nullHandler.Create(nullptr, 1, "null"));
  EXPECT_FALSE(tooMany.Create(RecordingHandler, WQ_MAX_THREADS + 1, "many"));
  EXPECT_FALSE(none.Create(RecordingHandler, 0, "none"));
  EXPECT_TRUE(nullHandler.IsStopped());
  EXPECT_TRUE(tooMany.IsStopped());

  EXPECT_FALSE(nullHandler.Post(1, Buffer("abc"), 3, false, 3));
  EXPECT_EQ(Live(), 0u);
  char mine[] = "kept";
  EXPECT_FALSE(nullHandler.Post(2, mine, 4, true, 3));
  EXPECT_EQ(Live(), 0u);
  EXPECT_EQ(ledger.foreignFrees, 0);
}

TEST_F(WorkQueueTest, NameIsCutToSixtyThreeCharacters) {
  WorkQueue queue(true);
  std::string longName(100, 'n');
  EXPECT_FALSE(queue.Create(nullptr, 1, longName.c_str()));
  EXPECT_EQ(std::string(queue.Name()), longName.substr(0, 63));
}

TEST_F(WorkQueueTest, ItemsRunInOrderThenQuitIsReportedAndEverythingIsFreed) {
  WorkQueue queue(true);
  Install(queue);
  ASSERT_TRUE(queue.Create(RecordingHandler, 1, "order"));
  char copied[] = "copy";
  for (int i = 0; i < 50; ++i) {
    if (i % 2) {
      ASSERT_TRUE(queue.Post(i, copied, 4, true, 3));
    } else {
      ASSERT_TRUE(queue.Post(i, Buffer("own"), 3, false, 3));
    }
  }
  EXPECT_TRUE(queue.Stop());
  ASSERT_EQ(ledger.events.size(), 51u);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(ledger.events[i], "item " + std::to_string(i) + (i % 2 ? " copy" : " own"));
  }
  EXPECT_EQ(ledger.events.back(), "2 handle WQ_QUIT,workQueue exit");
  EXPECT_EQ(Live(), 0u);
  EXPECT_EQ(ledger.foreignFrees, 0);
  EXPECT_STREQ(copied, "copy");
}

TEST_F(WorkQueueTest, PostAfterStopAndReservedKeyAreRefused) {
  WorkQueue queue(true);
  Install(queue);
  ASSERT_TRUE(queue.Create(RecordingHandler, 1, "late"));
  EXPECT_FALSE(queue.Post(1, Buffer("quit"), 4, false, WQ_QUIT));
  EXPECT_EQ(Live(), 0u);
  queue.Stop();
  EXPECT_FALSE(queue.Post(2, Buffer("x"), 1, false, 3));
  EXPECT_EQ(Live(), 0u);
  void* callers = Buffer("mine");
  EXPECT_FALSE(queue.Post(3, callers, 4, true, 3));
  EXPECT_EQ(Live(), 1u);  // still the caller's
  CountedRelease(callers);
  EXPECT_EQ(ledger.foreignFrees, 0);
}

TEST_F(WorkQueueTest, FailedAllocationsKeepTheOwnershipRule) {
  WorkQueue queue(true);
  Install(queue);
  ASSERT_TRUE(queue.Create(RecordingHandler, 1, "oom"));
  void* given = Buffer("given");
  ledger.failAllocations = 1;  // the item
  EXPECT_FALSE(queue.Post(1, given, 5, false, 3));
  EXPECT_EQ(Live(), 0u);
  void* callers = Buffer("mine");
  ledger.failAllocations = 1;  // the item again, now with a copied buffer
  EXPECT_FALSE(queue.Post(2, callers, 4, true, 3));
  EXPECT_EQ(Live(), 1u);
  queue.Stop();
  // The item is allocated, its copy is not: the item goes back and the
  // caller's buffer stays the caller's.
  struct FailSecond {
    static void* Allocate(size_t size) {
      static int calls = 0;
      return ++calls == 2 ? nullptr : CountedAllocate(size);
    }
  };
  WorkQueueHooks hooks = {FailSecond::Allocate, CountedRelease, SteppedTicks, CaptureReport};
  WorkQueue second(true);
  second.SetHooks(hooks);
  ASSERT_TRUE(second.Create(RecordingHandler, 1, "oom2"));
  EXPECT_FALSE(second.Post(3, callers, 4, true, 3));
  EXPECT_EQ(Live(), 1u);
  CountedRelease(callers);
  second.Stop();
  EXPECT_TRUE(ledger.events.size() == 2u) << "only the two quit reports";
  EXPECT_EQ(ledger.foreignFrees, 0);
}

TEST_F(WorkQueueTest, ProbeReportsOnlyAWaitAndNeverCallsTheHandler) {
  WorkQueue queue(true);
  Install(queue);
  ASSERT_TRUE(queue.Create(RecordingHandler, 1, "probe"));
  EXPECT_TRUE(queue.Post(8, Buffer("p"), 1, false, WQ_PROBE));  // same tick
  queue.Stop();
  ASSERT_EQ(ledger.events.size(), 1u) << "only the quit report";
  ledger.events.clear();
  ledger.tickStep = 5;        // the thread reads 5 ticks after the post
  ledger.ticks = 0xFFFFFFFE;  // and across the counter's wrap
  WorkQueue waited(true);
  Install(waited);
  ASSERT_TRUE(waited.Create(RecordingHandler, 1, "probe"));
  EXPECT_TRUE(waited.Post(9, Buffer("p"), 1, false, WQ_PROBE));
  waited.Stop();
  ASSERT_EQ(ledger.events.size(), 2u);
  EXPECT_EQ(ledger.events[0], "2 Id=9 [probe] 处理速度 5 tick");
  EXPECT_EQ(Live(), 0u);
}

TEST_F(WorkQueueTest, ThreadOutlivingTheStopWaitFinishesWithoutTheQueue) {
  g_release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  {
    WorkQueue queue(true);
    Install(queue);
    queue.SetStopWait(100);
    ASSERT_TRUE(queue.Create(BlockingHandler, 1, "stuck"));
    for (int i = 0; i < 3; ++i) queue.Post(i, Buffer("s"), 1, false, 3);
    EXPECT_FALSE(queue.Stop());
  }  // the queue object is gone while its thread still waits
  SetEvent(g_release);
  // Items are freed as they are handled, all before the quit packet.
  ASSERT_EQ(WaitForSingleObject(ledger.quitReported, 120000), WAIT_OBJECT_0);
  std::lock_guard<std::mutex> guard(ledger.mutex);
  ASSERT_EQ(ledger.events.size(), 4u);
  EXPECT_EQ(ledger.events[2], "item 2 s");
  EXPECT_EQ(ledger.events[3], "2 handle WQ_QUIT,workQueue exit");
  EXPECT_TRUE(ledger.live.empty());
  CloseHandle(g_release);
}

// Which way the queue's own messages go: printf (the texts as they are, no
// line end added), or into g_Log.
TEST_F(WorkQueueTest, ConsoleQueueNeverReportsIntoTheLog) {
  char previous[MAX_PATH];
  GetCurrentDirectoryA(sizeof(previous), previous);
  std::string folder = std::string(previous) + "\\scratch_report_route";
  CreateDirectoryA(folder.c_str(), nullptr);
  SetCurrentDirectoryA(folder.c_str());
  std::string prefix = "route" + std::to_string(GetTickCount()) + "_";
  g_Log.Configure(prefix.c_str(), false, true, false, true);

  WorkQueueHooks ticksOnly = {nullptr, nullptr, SteppedTicks, nullptr};
  ledger.tickStep = 3;
  WorkQueue console(true);
  console.SetHooks(ticksOnly);
  ASSERT_TRUE(console.Create(RecordingHandler, 1, "con"));
  testing::internal::CaptureStdout();
  console.Post(1, malloc(1), 1, false, WQ_PROBE);
  console.Stop();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Id=1 [con] 处理速度 3 tick"
            "handle WQ_QUIT,workQueue exit");
  EXPECT_EQ(FindLogFile(prefix), "");

  WorkQueue logged(false);
  logged.SetHooks(ticksOnly);
  ASSERT_TRUE(logged.Create(RecordingHandler, 1, "viaLog"));
  logged.Post(2, malloc(1), 1, false, WQ_PROBE);
  logged.Stop();
  std::string content = ReadWholeFile(FindLogFile(prefix));
  EXPECT_NE(content.find(" Id=2 [viaLog] 处理速度 3 tick"), std::string::npos) << content;
  EXPECT_NE(content.find(" handle WQ_QUIT,workQueue exit"), std::string::npos);
  SetCurrentDirectoryA(previous);
}

}  // namespace
