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

// Runs the child with `threads` logging threads (the main thread among
// them) and checks that every line reached the file, whole and in order.
void ExpectEveryLineWritten(int threads, int perThread) {
  ChildRun run = RunChild("threads " + std::to_string(threads) + " " + std::to_string(perThread));
  ASSERT_EQ(run.exitCode, 0u);
  std::vector<std::string> lines = SplitLogLines(ReadWholeFile(ChildLog(run)));
  ASSERT_EQ(lines.size(), static_cast<size_t>(2 + threads * perThread));
  EXPECT_EQ(lines.front().substr(20), "early global constructed");
  EXPECT_EQ(lines.back().substr(20), "early global destroyed");
  std::map<int, int> nextOfThread;
  for (size_t n = 1; n + 1 < lines.size(); ++n) {
    const std::string& line = lines[n];
    int thread = -1, index = -1;
    char filler[200] = {};
    ASSERT_EQ(sscanf(line.c_str() + 20, "thread %d line %d %199s", &thread, &index, filler), 3)
        << line;
    // Each line whole: its filler is as long as its index says.
    EXPECT_EQ(std::string(filler), std::string(1 + index % 97, 'a' + thread)) << line;
    EXPECT_EQ(index, nextOfThread[thread]++) << "lines of one thread stay in order";
  }
  EXPECT_EQ(nextOfThread.size(), static_cast<size_t>(threads));
}

TEST_F(LifetimeTest, EveryLineFromTheMainThreadIsWrittenBeforeExit) {
  ExpectEveryLineWritten(1, 2000);
}

TEST_F(LifetimeTest, EveryLineFromSeveralThreadsIsWrittenWholeBeforeExit) {
  ExpectEveryLineWritten(4, 500);
}

TEST_F(LifetimeTest, FileNameKeepsACharacterWhoseSecondByteIsABackslash) {
  // "俓" is 0x82 0x5C in GBK; split there, the name would be "child".
  const std::string name = "log俓child";
  ASSERT_TRUE(CopyFileA(BesideTestProgram("log_child.exe").c_str(),
                        BesideTestProgram(name + ".exe").c_str(), FALSE));
  ChildRun run = RunChild("globals", name + ".exe");
  ASSERT_EQ(run.exitCode, 0u);
  EXPECT_NE(FindLogFile(name + "_" + std::to_string(run.processId) + "_"), "");
}

TEST_F(LifetimeTest, SamePrefixOnTheSameDayAppends) {
  ASSERT_EQ(RunChild("append shared_ first").exitCode, 0u);
  ASSERT_EQ(RunChild("append shared_ second").exitCode, 0u);
  std::string content = ReadWholeFile(FindLogFile("shared_"));
  SCOPED_TRACE(content);
  // The early global's lines come and go around Configure, which names the
  // file; the runs' own lines must both be there, in order.
  std::vector<std::string> runs;
  for (const std::string& line : SplitLogLines(content)) {
    if (line.compare(20, 4, "run ") == 0) runs.push_back(line.substr(20));
  }
  EXPECT_EQ(runs, (std::vector<std::string>{"run first", "run second"}));
}

TEST_F(LifetimeTest, FaultInAQueueHandlerEndsTheProcess) {
  ChildRun run = RunChild("fault");
  // Ended by the exception (an access violation; qemu under Wine reports
  // it as another code), not by returning from main.
  EXPECT_GE(run.exitCode, 0xC0000000u) << std::hex << run.exitCode;
}

}  // namespace
