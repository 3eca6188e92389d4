// Update.exe itself against a game file that another program holds: held for
// a moment (released when the run logs its first retry of the file), the run
// succeeds; held for the whole run, the run waits out its whole bound, then
// fails as any failed installation does, and leaves the old file and nothing
// else.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "file_helpers.h"
#include "file_holder.h"
#include "outcome_checks.h"
#include "payload_builder.h"
#include "test_files.h"
#include "update/base/retry_schedule.h"
#include "updater_driver.h"
#include "updater_log.h"

namespace {

constexpr DWORD kRunTimeoutMs = 240000;
const char* const kGeneralFailure = "补丁文件可能已经损坏或无效,请重新下载!";

const char kRetryLine[] = "文件被占用,等待重试 ";
const char kGaveUpLine[] = "文件被其他程序占用 ";

// The stamp that begins the log line holding `at` ("YYYY-MM-DD HH:MM:SS "),
// in seconds; -1 when it has none.
long long StampSeconds(const std::string& log, size_t at) {
  const size_t begin = log.rfind('\n', at) == std::string::npos ? 0 : log.rfind('\n', at) + 1;
  SYSTEMTIME stamp = {};
  int year, month, day, hour, minute, second;
  if (std::sscanf(log.c_str() + begin, "%d-%d-%d %d:%d:%d", &year, &month, &day, &hour, &minute,
                  &second) != 6) {
    return -1;
  }
  stamp.wYear = static_cast<WORD>(year);
  stamp.wMonth = static_cast<WORD>(month);
  stamp.wDay = static_cast<WORD>(day);
  stamp.wHour = static_cast<WORD>(hour);
  stamp.wMinute = static_cast<WORD>(minute);
  stamp.wSecond = static_cast<WORD>(second);
  FILETIME time;
  if (!SystemTimeToFileTime(&stamp, &time)) return -1;
  return static_cast<long long>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) |
                                time.dwLowDateTime) /
         10000000;
}

// What the log says of a file the run retried until it gave it up.
struct RetriedFile {
  std::vector<int> retries;  // the retries' numbers, in the order logged
  long long seconds = -1;    // from the first retry's stamp to the giving up's
};

RetriedFile RetriesUntilGivingUp(const std::string& log, const std::string& path) {
  RetriedFile file;
  const std::string retried = kRetryLine + path + " ";
  const size_t gaveUp = log.find(kGaveUpLine + path + " ");
  if (gaveUp == std::string::npos) return file;
  for (size_t at = log.find(retried); at < gaveUp; at = log.find(retried, at + 1)) {
    // The line ends in the error code and the retry's number.
    const std::string line = log.substr(at, log.find('\n', at) - at);
    file.retries.push_back(std::atoi(line.substr(line.rfind(' ') + 1).c_str()));
    if (file.retries.size() == 1) file.seconds = StampSeconds(log, gaveUp) - StampSeconds(log, at);
  }
  return file;
}

// 1, 2, ... up to the number of retries the schedule allows one file before
// its budget is spent: the waits before them add up to the whole budget.
std::vector<int> RetriesWithinTheBudget() {
  std::vector<int> retries;
  uint32_t waited = 0;
  for (uint32_t wait; (wait = NextRetryWaitMs(static_cast<uint32_t>(retries.size()), waited)) != 0;
       waited += wait) {
    retries.push_back(static_cast<int>(retries.size()) + 1);
  }
  return retries;
}

// A game whose readme.txt another program holds, and the updater started on it.
class HeldRun {
 public:
  explicit HeldRun(const std::string& name)
      : scenario_(MakeScenario(name, ReadmePatch(), "1.4.1.33960", false)),
        target_(scenario_.game + "\\readme.txt"),
        temp_(scenario_.work + "\\tmp"),
        holder_(WindowsPath(FILE_HOLDER_EXE_PATH)) {}
  // Holds the target, then starts the updater in automatic mode.
  bool Start() {
    return WriteWholeFile(target_, "old readme") && holder_.Hold(target_) &&
           updater_.Start(scenario_.updater, Quoted(scenario_.game));
  }

  UpdateScenario scenario_;
  std::string target_;
  ScopedTempDir temp_;
  FileHolder holder_;
  UpdaterProcess updater_;
};

TEST(HeldFileRun, TargetHeldForAMomentIsWaitedOut) {
  HeldRun run("held_moment");
  ASSERT_TRUE(run.Start());
  ASSERT_TRUE(WaitForLogLine(run.updater_, kRetryLine + run.target_ + " ", kRunTimeoutMs));
  run.holder_.Release();
  UpdaterOutcome outcome = run.updater_.RunToEnd(kRunTimeoutMs);

  ASSERT_TRUE(EndedSilently(outcome));
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(ReadWholeFile(run.target_), "new readme");
  EXPECT_EQ(InstalledVersion(run.scenario_), "1.4.1.34242");
  EXPECT_FALSE(Logged(run.updater_, kGaveUpLine));
  EXPECT_EQ(ListFiles(run.temp_.Path(), "*"), std::vector<std::string>{});
  EXPECT_EQ(ListFiles(run.scenario_.game, "*.upd-new"), std::vector<std::string>{});
}

TEST(HeldFileRun, TargetHeldForTheWholeRunFailsAfterTheBoundAndLeavesNothing) {
  HeldRun run("held_throughout");
  ASSERT_TRUE(run.Start());
  UpdaterOutcome outcome = run.updater_.RunToEnd(kRunTimeoutMs);
  run.holder_.Release();

  // A run that gave up early would end the same way, only sooner: the log
  // must show every retry the budget allows, and the whole budget waited
  // between the first retry and giving up. The stamps count whole seconds,
  // and a slow machine only makes the interval longer.
  const RetriedFile retried = RetriesUntilGivingUp(LogText(run.updater_), run.target_);
  EXPECT_EQ(retried.retries, RetriesWithinTheBudget());
  EXPECT_GE(retried.seconds, static_cast<long long>(FILE_RETRY_BUDGET_MS / 1000) - 1);

  ASSERT_TRUE(outcome.exited) << Describe(outcome);
  EXPECT_EQ(outcome.exitCode, 1u) << Describe(outcome);
  ASSERT_EQ(outcome.boxes.size(), 2u) << Describe(outcome);
  // The commit could not put the new file in place: it rolled back.
  EXPECT_EQ(outcome.boxes[0].text.find("写入文件错误 " + run.target_ + " "), 0u)
      << Describe(outcome);
  EXPECT_EQ(outcome.boxes[1].text, kGeneralFailure);
  EXPECT_EQ(ReadWholeFile(run.target_), "old readme");
  EXPECT_EQ(InstalledVersion(run.scenario_), "1.4.1.33960");
  EXPECT_TRUE(Logged(run.updater_, kGaveUpLine + run.target_ + " "));
  EXPECT_TRUE(Logged(run.updater_, "更新失败,游戏文件已恢复为更新前的状态"));
  EXPECT_EQ(ListFiles(run.temp_.Path(), "*"), std::vector<std::string>{});
  EXPECT_EQ(ListFiles(run.scenario_.game, "*.upd-*"), std::vector<std::string>{});
  EXPECT_EQ(ListFiles(run.scenario_.game, "*.journal"), std::vector<std::string>{});
}

}  // namespace
