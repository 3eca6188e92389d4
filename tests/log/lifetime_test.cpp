// g_Log's life in a real process: it serves the constructors and destructors
// of other globals, and every line queued before exit reaches the file.
#include <stdio.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "log_test_support.h"

namespace {

class LifetimeTest : public ScratchFolderTest {};

std::string ChildLog(const ChildRun& run) {
  return FindLogFile("log_child_" + std::to_string(run.processId) + "_");
}

TEST_F(LifetimeTest, GlobalsOfOtherFilesLogFromConstructorAndDestructor) {
  ChildRun run = RunChild("globals");
  ASSERT_EQ(run.exitCode, 0u);
  std::vector<std::string> lines = SplitLogLines(ReadWholeFile(ChildLog(run)));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(20), "early global constructed");
  EXPECT_EQ(lines[1].substr(20), "main ran");
  EXPECT_EQ(lines[2].substr(20), "early global destroyed");
}

TEST_F(LifetimeTest, EveryLineFromSeveralThreadsIsWrittenWholeBeforeExit) {
  const int kThreads = 4, kPerThread = 500;
  ChildRun run = RunChild("threads " + std::to_string(kThreads) + " " + std::to_string(kPerThread));
  ASSERT_EQ(run.exitCode, 0u);
  std::vector<std::string> lines = SplitLogLines(ReadWholeFile(ChildLog(run)));
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kPerThread));
  std::map<int, int> nextOfThread;
  for (const std::string& line : lines) {
    int thread = -1, index = -1;
    char filler[200] = {};
    ASSERT_EQ(sscanf(line.c_str() + 20, "thread %d line %d %199s", &thread, &index, filler), 3) << line;
    // Each line whole: its filler is as long as its index says.
    EXPECT_EQ(std::string(filler), std::string(1 + index % 97, 'a' + thread)) << line;
    EXPECT_EQ(index, nextOfThread[thread]++) << "lines of one thread stay in order";
  }
  EXPECT_EQ(nextOfThread.size(), static_cast<size_t>(kThreads));
}

TEST_F(LifetimeTest, SamePrefixOnTheSameDayAppends) {
  ASSERT_EQ(RunChild("append shared_ first").exitCode, 0u);
  ASSERT_EQ(RunChild("append shared_ second").exitCode, 0u);
  std::vector<std::string> lines = SplitLogLines(ReadWholeFile(FindLogFile("shared_")));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(20), "run first");
  EXPECT_EQ(lines[1].substr(20), "run second");
}

TEST_F(LifetimeTest, FaultInAQueueHandlerEndsTheProcess) {
  ChildRun run = RunChild("fault");
  EXPECT_EQ(run.exitCode, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
}

}  // namespace
