// Update.exe itself against a game file that another program holds: held for
// a moment (released when the run logs its first retry of the file), the run
// succeeds; held for the whole run, the run fails after its bound as any
// failed installation does, and leaves the old file and nothing else.
#include <gtest/gtest.h>

#include <string>

#include "file_helpers.h"
#include "file_holder.h"
#include "outcome_checks.h"
#include "payload_builder.h"
#include "test_files.h"
#include "updater_driver.h"

namespace {

constexpr DWORD kRunTimeoutMs = 240000;
const char* const kGeneralFailure = "补丁文件可能已经损坏或无效,请重新下载!";

// Whether the log of the updater process `updater` (Log\Update_<pid>_*
// beside the test, where the updater started from here writes it) holds `text`.
bool Logged(const UpdaterProcess& updater, const std::string& text) {
  char current[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof current, current);
  const std::string dir = std::string(current) + "\\Log";
  const std::string pattern = "Update_" + std::to_string(updater.ProcessId()) + "_*";
  for (const std::string& name : ListFiles(dir, pattern.c_str())) {
    if (ReadWholeFile(dir + "\\" + name).find(text) != std::string::npos) return true;
  }
  return false;
}

bool WaitForLogLine(const UpdaterProcess& updater, const std::string& text) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < kRunTimeoutMs) {
    if (Logged(updater, text)) return true;
    if (updater.HasExited()) return false;
    PollPause();
  }
  return false;
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
  ASSERT_TRUE(WaitForLogLine(run.updater_, "文件被占用,等待重试 " + run.target_ + " "));
  run.holder_.Release();
  UpdaterOutcome outcome = run.updater_.RunToEnd(kRunTimeoutMs);

  ASSERT_TRUE(EndedSilently(outcome));
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(ReadWholeFile(run.target_), "new readme");
  EXPECT_EQ(InstalledVersion(run.scenario_), "1.4.1.34242");
  EXPECT_FALSE(Logged(run.updater_, "文件被其他程序占用 "));
  EXPECT_EQ(ListFiles(run.temp_.Path(), "*"), std::vector<std::string>{});
  EXPECT_EQ(ListFiles(run.scenario_.game, "*.upd-new"), std::vector<std::string>{});
}

TEST(HeldFileRun, TargetHeldForTheWholeRunFailsAfterTheBoundAndLeavesNothing) {
  HeldRun run("held_throughout");
  ASSERT_TRUE(run.Start());
  UpdaterOutcome outcome = run.updater_.RunToEnd(kRunTimeoutMs);
  run.holder_.Release();

  ASSERT_TRUE(outcome.exited) << Describe(outcome);
  EXPECT_EQ(outcome.exitCode, 1u) << Describe(outcome);
  ASSERT_EQ(outcome.boxes.size(), 2u) << Describe(outcome);
  EXPECT_EQ(outcome.boxes[0].text.find("拷贝文件错误 "), 0u) << Describe(outcome);
  EXPECT_EQ(outcome.boxes[1].text, kGeneralFailure);
  EXPECT_EQ(ReadWholeFile(run.target_), "old readme");
  EXPECT_EQ(InstalledVersion(run.scenario_), "1.4.1.33960");
  EXPECT_TRUE(Logged(run.updater_, "文件被其他程序占用 " + run.target_ + " "));
  EXPECT_EQ(ListFiles(run.temp_.Path(), "*"), std::vector<std::string>{});
  EXPECT_EQ(ListFiles(run.scenario_.game, "*.upd-new"), std::vector<std::string>{});
}

}  // namespace
