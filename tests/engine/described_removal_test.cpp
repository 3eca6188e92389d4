// Removals: after every file is installed, a file holding the old build's
// bytes goes with the folders it leaves empty; anything else stays.
#include "described_run.h"

namespace {

using DescribedRemoval = DescribedRunTest;

TEST_F(DescribedRemoval, OldFilesGoWithTheirEmptiedFoldersAndChangedOrMissingOnesAreFine) {
  Put("relic\\deep\\a.dat", "old a");
  Put("mixed\\b.dat", "old b");
  Put("mixed\\other.txt", "the player's");
  Put("changed.dat", "changed by the player");
  Put("top.dat", "old top");
  // A run stopped after removing this file, before its folder.
  MakeDirectoryTree(Game("gone\\deeper"));
  UseUpdater(BuildUpdater(
      64, {RemovalEntry("relic\\deep\\a.dat", "old a"), RemovalEntry("mixed\\b.dat", "old b"),
           RemovalEntry("changed.dat", "old changed"), RemovalEntry("gone\\deeper\\d.dat", "old d"),
           RemovalEntry("top.dat", "old top"),
           PathFileEntry("mixed\\new.dat", "new", EntryCoding::Stored)}));
  RunChecks checks;
  ASSERT_EQ(1, Run(&checks)) << FirstWarning();
  EXPECT_TRUE(warnings_.empty());
  const std::map<std::string, std::string> expected = {
      {"Config\\", ""},
      {"Config\\Client.ini", ReadWholeFile(Game("Config\\Client.ini"))},
      {"changed.dat", "changed by the player"},
      {"mixed\\", ""},
      {"mixed\\new.dat", "new"},
      {"mixed\\other.txt", "the player's"}};
  EXPECT_TRUE(expected == TreeContents(gameDir_));
  EXPECT_TRUE(DirectoryExists(gameDir_));
  // Removals come last, after the file entry, in payload order.
  ASSERT_EQ(15u, progress_.size());
  std::vector<ProgressEvent> removals(progress_.end() - 10, progress_.end());
  std::vector<ProgressEvent> expectedRemovals;
  for (uint32_t ordinal = 1; ordinal <= 5; ++ordinal) {
    expectedRemovals.push_back({PG_INSTALL_BEGIN, ordinal, 6});
    expectedRemovals.push_back({PG_INSTALL_END, ordinal, 6});
  }
  EXPECT_EQ(expectedRemovals, removals);
  EXPECT_EQ((ProgressEvent{PG_EXTRACT_BEGIN, 6, 6}), progress_.at(0));
}

// A file marked read-only or hidden is not the run's to remove, as it is
// not the run's to replace (and mkpatch check says so): the run fails (exit
// code 1) with the file named, and the file stays.
TEST_F(DescribedRemoval, AFileThatCannotBeRemovedFailsTheRun) {
  for (const DWORD attribute : {DWORD(FILE_ATTRIBUTE_READONLY), DWORD(FILE_ATTRIBUTE_HIDDEN)}) {
    SCOPED_TRACE(attribute);
    Put("locked\\old.dat", "old");
    ASSERT_TRUE(SetFileAttributesA(Game("locked\\old.dat").c_str(), attribute));
    UseUpdater(BuildUpdater(64, {RemovalEntry("locked\\old.dat", "old")}));
    warnings_.clear();
    RunChecks checks;
    const int logged = LogCount("删除文件错误 " + Game("locked\\old.dat"));
    EXPECT_EQ(0, Run(&checks));
    EXPECT_TRUE(checks.versionOk && checks.spaceOk && checks.sourcesOk);
    const std::string text =
        "删除文件错误 " + Game("locked\\old.dat") + " " + std::to_string(ERROR_ACCESS_DENIED);
    EXPECT_EQ(std::vector<std::string>{Shown(text)}, warnings_);
    EXPECT_EQ(logged + 1, LogCount(text));
    EXPECT_EQ("old", Read("locked\\old.dat"));
    SetFileAttributesA(Game("locked\\old.dat").c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

}  // namespace
