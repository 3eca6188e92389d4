// Update.exe either brings the game to the new build or leaves it exactly as
// it was. A run that fails while it stages the new files, in the launcher,
// or while it puts the staged files in place ends with exit code 1, every
// game file byte for byte as before and nothing of its own left behind. A
// run killed while it puts the files in place, or while it takes them back,
// is finished or undone by the next run, which then updates the game. Each
// moment is reached by what the run itself logs or makes, never by timing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file_helpers.h"
#include "file_holder.h"
#include "outcome_checks.h"
#include "payload_builder.h"
#include "test_files.h"
#include "updater_driver.h"
#include "updater_log.h"

namespace {

constexpr DWORD kRunTimeoutMs = 240000;
const char kRetryLine[] = "文件被占用,等待重试 ";
const char kGaveUpLine[] = "文件被其他程序占用 ";
const char kUndoneLine[] = "更新失败,游戏文件已恢复为更新前的状态";
const char kJournalName[] = "TPK_MVR_J_UPDATE.journal";

struct GameFile {
  std::string path;
  std::string oldBytes;
  std::string newBytes;  // empty: the new build has no such file
};

// Files the old build has or the new one adds, in the order the patch
// writes them; readme.txt is the last file of the patch.
const std::vector<GameFile> kFiles = {
    {"a.txt", "old a", "new a"},
    {"sub\\b.txt", "old b", "new b"},
    {"sub\\new\\c.txt", "", "new c"},
    {"gone.txt", "old gone", ""},
    {"readme.txt", "old readme", "new readme"},
};

// The old build's game with the launcher stand-in, and an updater (under a
// name of its own, for the kill service) whose patch brings it to the new
// build; `last` ends the patch, after every file.
class AllOrNothing : public ::testing::Test {
 protected:
  void MakeRun(const std::string& name, std::vector<PayloadFile> last = {}) {
    PatchLayout layout;
    for (const GameFile& file : kFiles) {
      if (file.path == "readme.txt") continue;
      // Plain entries land in the game's own folder; a file in a subfolder
      // is a described one that names its path.
      if (file.newBytes.empty()) {
        layout.files.push_back(
            DescribedFile(file.path, DescribeRemoval(file.path, file.oldBytes), ""));
      } else if (file.path.find('\\') != std::string::npos) {
        layout.files.push_back(DescribedFile(
            file.path,
            DescribeFile(EntryKind::PathFile, EntryCoding::Stored, file.newBytes, file.path),
            file.newBytes));
      } else {
        layout.files.push_back({file.path, file.newBytes});
      }
    }
    if (last.empty()) last = {{"readme.txt", "new readme"}};
    layout.files.insert(layout.files.end(), last.begin(), last.end());
    scenario_ = MakeScenario(name, layout, "1.4.1.33960", true, "all_or_nothing.exe");
    ClearLogs();
    for (const GameFile& file : kFiles) {
      if (file.oldBytes.empty()) continue;
      MakeDirectoryTree(Folder(file.path));
      ASSERT_TRUE(WriteWholeFile(Path(file.path), file.oldBytes));
    }
  }

  // The logs of earlier runs of this program: a process that gets the same
  // id would otherwise seem to have logged their lines.
  static void ClearLogs() {
    for (const std::string& name : ListFiles("Log", "all_or_nothing_*")) {
      DeleteFileA(("Log\\" + name).c_str());
    }
  }

  std::string Path(const std::string& relative) const { return scenario_.game + "\\" + relative; }
  std::string Folder(const std::string& relative) const {
    const std::string path = Path(relative);
    return path.substr(0, path.rfind('\\'));
  }

  // Nothing the run makes for itself is left: no staged copy, no backup,
  // no journal, no extracted entry.
  void ExpectNothingLeft(const std::string& temp) const {
    for (const std::string& folder : {scenario_.game, Path("sub"), Path("sub\\new")}) {
      EXPECT_EQ(ListFiles(folder, "*.upd-*"), std::vector<std::string>{}) << folder;
    }
    EXPECT_FALSE(FileExists(Path(kJournalName)));
    EXPECT_EQ(ListFiles(temp, "*"), std::vector<std::string>{});
  }

  void ExpectOldBuild(const std::string& temp) const {
    for (const GameFile& file : kFiles) {
      if (file.oldBytes.empty()) {
        EXPECT_FALSE(FileExists(Path(file.path))) << file.path;
      } else {
        EXPECT_EQ(ReadWholeFile(Path(file.path)), file.oldBytes) << file.path;
      }
    }
    EXPECT_FALSE(FileExists(Path("sub\\new"))) << "a folder made for a new file stays";
    EXPECT_EQ(InstalledVersion(scenario_), "1.4.1.33960");
    ExpectNothingLeft(temp);
  }

  void ExpectNewBuild(const std::string& temp) const {
    for (const GameFile& file : kFiles) {
      if (file.newBytes.empty()) {
        EXPECT_FALSE(FileExists(Path(file.path))) << file.path;
      } else {
        EXPECT_EQ(ReadWholeFile(Path(file.path)), file.newBytes) << file.path;
      }
    }
    EXPECT_EQ(InstalledVersion(scenario_), "1.4.1.34242");
    ExpectNothingLeft(temp);
  }

  // The same updater run again after a kill: it logs `recovered` (what it
  // did with the killed run's commit), then brings the game to the new build.
  void RunAgainToTheNewBuild(const std::string& recovered, const std::string& temp) const {
    ClearLogs();
    UpdaterProcess rerun;
    ASSERT_TRUE(rerun.Start(scenario_.updater, Quoted(scenario_.game)));
    UpdaterOutcome outcome = rerun.RunToEnd(kRunTimeoutMs);
    ASSERT_TRUE(EndedSilently(outcome));
    EXPECT_EQ(outcome.exitCode, 0u);
    EXPECT_TRUE(Logged(rerun, recovered));
    ExpectNewBuild(temp);
  }

  // The run that fails: exit code 1, a box that says why, then the general one.
  void ExpectFailedRun(const UpdaterOutcome& outcome, const std::string& firstBox) const {
    ASSERT_TRUE(outcome.exited) << Describe(outcome);
    EXPECT_EQ(outcome.exitCode, 1u) << Describe(outcome);
    ASSERT_EQ(outcome.boxes.size(), 2u) << Describe(outcome);
    EXPECT_EQ(outcome.boxes[0].text.find(firstBox), 0u) << Describe(outcome);
    EXPECT_EQ(outcome.boxes[1].text, "补丁文件可能已经损坏或无效,请重新下载!");
  }

  UpdateScenario scenario_;
};

TEST_F(AllOrNothing, TheLastFileHeldForGoodUndoesEveryFileBeforeIt) {
  MakeRun("held_last");
  ScopedTempDir temp(scenario_.work + "\\tmp");
  FileHolder holder(WindowsPath(FILE_HOLDER_EXE_PATH));
  ASSERT_TRUE(holder.Hold(Path("readme.txt")));
  UpdaterProcess updater;
  ASSERT_TRUE(updater.Start(scenario_.updater, Quoted(scenario_.game)));
  UpdaterOutcome outcome = updater.RunToEnd(kRunTimeoutMs);
  holder.Release();

  ExpectFailedRun(outcome, "写入文件错误 " + Path("readme.txt") + " ");
  EXPECT_TRUE(Logged(updater, kGaveUpLine + Path("readme.txt") + " "));
  EXPECT_TRUE(Logged(updater, kUndoneLine));
  ExpectOldBuild(temp.Path());
}

TEST_F(AllOrNothing, AnEntryThatDecodesToOtherBytesLeavesTheGameAsItWas) {
  // Its bytes pass the payload's digest: only the file's own MD5 tells.
  MakeRun("wrong_bytes", {DescribedFile("readme.txt",
                                        DescribeFile(EntryKind::PathFile, EntryCoding::Stored,
                                                     "new readme", "readme.txt"),
                                        "new README")});
  ScopedTempDir temp(scenario_.work + "\\tmp");
  UpdaterOutcome outcome = RunUpdater(scenario_.updater, Quoted(scenario_.game), kRunTimeoutMs);

  ExpectFailedRun(outcome, "文件校验错误 " + Path("readme.txt"));
  ExpectOldBuild(temp.Path());
  EXPECT_FALSE(FileExists(Path("launch_received.txt"))) << "the launcher ran after a failure";
}

TEST_F(AllOrNothing, ALauncherThatCannotRunLeavesEveryFileAsItWas) {
  // Its exit code is the launcher's own business; a launcher that cannot be
  // started is a failed run.
  MakeRun("launcher_fails", {{"readme.txt", "new readme"}, {"patch.tpk", "a package"}});
  ASSERT_TRUE(DeleteFileA(Path("launch\\launch.exe").c_str()));
  ScopedTempDir temp(scenario_.work + "\\tmp");
  UpdaterOutcome outcome = RunUpdater(scenario_.updater, Quoted(scenario_.game), kRunTimeoutMs);

  ASSERT_TRUE(outcome.exited) << Describe(outcome);
  EXPECT_EQ(outcome.exitCode, 1u) << Describe(outcome);
  EXPECT_FALSE(outcome.boxes.empty()) << Describe(outcome);
  ExpectOldBuild(temp.Path());
}

// The commit waits for `held` (a.txt: nothing in place yet; readme.txt: every
// file before it in place) when the run is killed; the next run finishes it.
TEST_F(AllOrNothing, KilledWhileTheFilesArePutInPlaceThenFinishedByTheNextRun) {
  for (const std::string held : {"a.txt", "readme.txt"}) {
    SCOPED_TRACE("the commit waits for " + held);
    MakeRun("killed_in_commit_" + held.substr(0, held.find('.')));
    ScopedTempDir temp(scenario_.work + "\\tmp");
    FileHolder holder(WindowsPath(FILE_HOLDER_EXE_PATH));
    ASSERT_TRUE(holder.Hold(Path(held)));
    {
      UpdaterProcess updater;
      ASSERT_TRUE(updater.Start(scenario_.updater, Quoted(scenario_.game)));
      ASSERT_TRUE(WaitForLogLine(updater, kRetryLine + Path(held) + " ", kRunTimeoutMs));
      ASSERT_TRUE(updater.Suspend());
      EXPECT_TRUE(FileExists(Path(kJournalName)));
      if (held == "a.txt") {
        EXPECT_EQ(ReadWholeFile(Path("a.txt.upd-new")), "new a");
        EXPECT_EQ(ReadWholeFile(Path("sub\\b.txt")), "old b");
      } else {
        EXPECT_EQ(ReadWholeFile(Path("a.txt")), "new a");
        EXPECT_EQ(ReadWholeFile(Path("a.txt.upd-old")), "old a");
      }
      ASSERT_TRUE(updater.KillHard(kRunTimeoutMs));
    }
    holder.Release();
    RunAgainToTheNewBuild("已完成上次中断的更新 1.4.1.34242", temp.Path());
  }
}

// readme.txt is held for good, so the commit rolls back, and a file it takes
// back (a.txt, the last one; sub\b.txt, before it) is held in the way when
// the run is killed; the next run finishes the rollback, then updates.
TEST_F(AllOrNothing, KilledWhileTheFilesAreTakenBackThenUndoneAndUpdatedByTheNextRun) {
  for (const std::string inTheWay : {"a.txt", "sub\\b.txt"}) {
    SCOPED_TRACE("the rollback waits for " + inTheWay);
    MakeRun(inTheWay == "a.txt" ? "killed_in_rollback_a" : "killed_in_rollback_b");
    ScopedTempDir temp(scenario_.work + "\\tmp");
    FileHolder heldForGood(WindowsPath(FILE_HOLDER_EXE_PATH));
    FileHolder heldInTheWay(WindowsPath(FILE_HOLDER_EXE_PATH));
    ASSERT_TRUE(heldForGood.Hold(Path("readme.txt")));
    {
      UpdaterProcess updater;
      ASSERT_TRUE(updater.Start(scenario_.updater, Quoted(scenario_.game)));
      ASSERT_TRUE(WaitForLogLine(updater, kRetryLine + Path("readme.txt") + " ", kRunTimeoutMs));
      // New by now; held, it cannot get its old bytes back at once.
      ASSERT_TRUE(heldInTheWay.Hold(Path(inTheWay)));
      ASSERT_TRUE(WaitForLogLine(updater, kGaveUpLine + Path("readme.txt") + " ", kRunTimeoutMs));
      ASSERT_TRUE(WaitForLogLine(updater, kRetryLine + Path(inTheWay) + " ", kRunTimeoutMs));
      ASSERT_TRUE(updater.Suspend());
      EXPECT_TRUE(FileExists(Path(kJournalName)));
      // Undone last first: the added file is gone already, a.txt not yet.
      EXPECT_FALSE(FileExists(Path("sub\\new\\c.txt")));
      if (inTheWay != "a.txt") {
        EXPECT_EQ(ReadWholeFile(Path("a.txt")), "new a");
      }
      ASSERT_TRUE(updater.KillHard(kRunTimeoutMs));
    }
    heldInTheWay.Release();
    heldForGood.Release();
    RunAgainToTheNewBuild("已撤销上次中断的更新 1.4.1.34242", temp.Path());
  }
}

// Journals that this updater must not act on: another patch's unfinished
// commit, and one that cannot be read. Nothing is touched, exit code 1.
TEST_F(AllOrNothing, AnotherPatchsUnfinishedCommitIsLeftAlone) {
  MakeRun("other_patch");
  ScopedTempDir temp(scenario_.work + "\\tmp");
  const std::string journal =
      "journal 1\npatch 0123456789abcdef0123456789abcdef 1.4.1.40000\nstate commit\n"
      "replace a.txt\n";
  ASSERT_TRUE(WriteWholeFile(Path(kJournalName), journal));
  ASSERT_TRUE(WriteWholeFile(Path("a.txt.upd-new"), "other patch's a"));
  UpdaterOutcome outcome = RunUpdater(scenario_.updater, Quoted(scenario_.game), kRunTimeoutMs);

  ASSERT_TRUE(outcome.exited) << Describe(outcome);
  EXPECT_EQ(outcome.exitCode, 1u) << Describe(outcome);
  ASSERT_EQ(outcome.boxes.size(), 1u) << "no word of a damaged updater: " << Describe(outcome);
  EXPECT_EQ(outcome.boxes[0].text,
            "游戏目录中另一个更新补丁(1.4.1.40000)的更新尚未完成,请先运行该更新补丁");
  EXPECT_EQ(ReadWholeFile(Path(kJournalName)), journal);
  EXPECT_EQ(ReadWholeFile(Path("a.txt.upd-new")), "other patch's a");
  EXPECT_EQ(ReadWholeFile(Path("a.txt")), "old a");
  EXPECT_EQ(InstalledVersion(scenario_), "1.4.1.33960");

  ASSERT_TRUE(WriteWholeFile(Path(kJournalName), "journal 1\npatch ?\n"));
  outcome = RunUpdater(scenario_.updater, Quoted(scenario_.game), kRunTimeoutMs);
  ASSERT_TRUE(outcome.exited) << Describe(outcome);
  EXPECT_EQ(outcome.exitCode, 1u) << Describe(outcome);
  ASSERT_EQ(outcome.boxes.size(), 1u) << Describe(outcome);
  EXPECT_EQ(outcome.boxes[0].text.find("更新记录已损坏,请修复游戏后重新运行更新程序:"), 0u)
      << Describe(outcome);
  EXPECT_EQ(ReadWholeFile(Path("a.txt")), "old a");
  EXPECT_EQ(InstalledVersion(scenario_), "1.4.1.33960");
}

}  // namespace
