// The commit of a run and its rollback, in-process: what other programs do
// to the game directory while the staged files go in place, and what the
// run and the next one then leave.
#include "update/install/commit.h"
#include "described_run.h"
#include "update/base/md5.h"
#include "update/files/file_retry.h"
#include "update/files/win32_handle.h"

namespace {

const char kUndone[] = "更新失败,游戏文件已恢复为更新前的状态";
const char kFinished[] = "已完成上次中断的更新 1.4.1.34242";

// A file held open without sharing by this process, as a scanner holds it.
UniqueHandle Hold(const std::string& path) {
  return UniqueHandle(
      CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

// The retry seam has no context: the hold it moves lives here. The first
// wait for `g_from` lets go of it and holds `g_to` instead.
UniqueHandle g_hold;
std::string g_from, g_to;

void MoveHoldOnFirstWait(const char* path, uint32_t) {
  if (g_from.empty() || g_from != path) return;
  g_from.clear();
  g_hold = Hold(g_to);
}

// The progress callback has no context either: the staged copy to take
// away once the entry of that ordinal is staged.
std::string g_takeAway;
uint32_t g_takeAwayAfter = 0;

void TakeAwayStagedCopy(uint32_t, uint32_t code, uint32_t a, uint32_t) {
  if (code == PG_INSTALL_END && a == g_takeAwayAfter) DeleteFileA(g_takeAway.c_str());
}

class CommitTest : public DescribedRunTest {
 protected:
  void TearDown() override {
    g_hold.Close();
    g_from.clear();
    g_takeAwayAfter = 0;
    DescribedRunTest::TearDown();
  }

  // Nothing of the run's own is left in the game directory.
  void ExpectNothingLeft() const {
    for (const auto& item : TreeContents(gameDir_)) {
      EXPECT_EQ(std::string::npos, item.first.find(".upd-")) << item.first;
      EXPECT_EQ(std::string::npos, item.first.find(".journal")) << item.first;
    }
  }
  std::string Version() const {
    return IniValue(Game("Config\\Client.ini"), "Version", "GameVersion");
  }
  // The updater's MD5, which names its commit in the journal.
  std::string UpdaterDigest() const {
    const std::string bytes = ReadWholeFile(updaterPath_);
    MD5 digest;
    digest.update(reinterpret_cast<const unsigned char*>(bytes.data()),
                  static_cast<uint32_t>(bytes.size()));
    digest.finalize();
    return digest.hex_digest();
  }
};

// The commit's end cannot be written to the journal (it is held from the
// first step on), so the journal that stays still says the commit is under
// way: the backups must stay with it, so that the next run finds every step
// taken and finishes, instead of undoing steps it has no backups for.
TEST_F(CommitTest, AJournalThatCannotTakeTheEndKeepsTheBackupsForTheNextRun) {
  Put("a.dll", "old a");
  UseUpdater(BuildUpdater(64, {{"a.dll", "new a"}, {"b.dll", "new b"}}));
  g_hold = Hold(Game("a.dll"));
  ASSERT_TRUE(g_hold.IsValid());
  g_from = Game("a.dll");
  g_to = Game(COMMIT_JOURNAL_NAME);
  SetFileRetryWait(&MoveHoldOnFirstWait);
  RunChecks checks;
  ASSERT_EQ(1, Run(&checks)) << FirstWarning();
  ASSERT_TRUE(g_hold.IsValid()) << "the journal was never held";
  g_hold.Close();
  EXPECT_EQ("new a", Read("a.dll"));
  EXPECT_EQ("new b", Read("b.dll"));
  ASSERT_TRUE(FileExists(Game(COMMIT_JOURNAL_NAME)));

  // The next run of this updater: what it does with the journal first.
  const int finished = LogCount(kFinished);
  RunFailure failure;
  ASSERT_TRUE(RecoverCommit(gameDir_.c_str(), UpdaterDigest(), failure)) << failure.text;
  EXPECT_EQ(finished + 1, LogCount(kFinished));
  EXPECT_EQ("new a", Read("a.dll"));
  EXPECT_EQ("new b", Read("b.dll"));
  ExpectNothingLeft();
}

// A staged copy that another program took away before the commit reached
// it (a scanner quarantining a new program) is a step that cannot be
// taken: the commit rolls back and the file is named, as when a target is
// held for good. Only a journal left by a killed run may find copies gone
// that its steps already put in place.
TEST_F(CommitTest, AStagedCopyTakenAwayBeforeTheCommitFailsTheRunAndUndoesIt) {
  Put("a.dll", "old a");
  Put("b.dll", "old b");
  UseUpdater(BuildUpdater(64, {{"a.dll", "new a"}, {"b.dll", "new b"}, {"c.dll", "new c"}}));
  g_takeAway = Game("b.dll.upd-new");
  g_takeAwayAfter = 2;
  UpdateSession::SetProgressCallback(&TakeAwayStagedCopy, 0);
  const int undone = LogCount(kUndone);
  RunChecks checks;
  EXPECT_EQ(0, Run(&checks));
  EXPECT_TRUE(checks.versionOk && checks.spaceOk && checks.sourcesOk && checks.noForeignCommit);
  const std::string text =
      "写入文件错误 " + Game("b.dll") + " " + std::to_string(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(std::vector<std::string>{Shown(text)}, warnings_);
  EXPECT_EQ(undone + 1, LogCount(kUndone));
  EXPECT_EQ("old a", Read("a.dll"));
  EXPECT_EQ("old b", Read("b.dll"));
  EXPECT_FALSE(FileExists(Game("c.dll")));
  EXPECT_EQ("1.4.1.34000", Version());
  ExpectNothingLeft();
}

// Undoing a run takes away the folders it made for the files it added, and
// no other: an empty folder the player had before the run stays, whether
// the commit rolled back or the run ended before its commit.
TEST_F(CommitTest, AFailedRunRemovesOnlyTheFoldersItMade) {
  const std::vector<PayloadFile> added = {
      PathFileEntry("empty\\new.dat", "new in a folder that was there", EntryCoding::Stored),
      PathFileEntry("empty\\made\\deeper\\c.dat", "new in new folders", EntryCoding::Stored),
      PathFileEntry("empty\\made\\deeper\\d.dat", "beside it", EntryCoding::Stored)};
  const std::map<std::string, std::string> before = {
      {"Config\\", ""},
      {"Config\\Client.ini", Read("Config\\Client.ini")},
      {"empty\\", ""},
      {"last.dll", "old last"}};
  struct Case {
    const char* what;
    bool heldForGood;  // else the last file is read-only, so it is never staged
  };
  for (const Case& c : {Case{"a rolled back commit", true}, Case{"discarded staging", false}}) {
    SCOPED_TRACE(c.what);
    RemoveTree(Game("empty"));
    MakeDirectoryTree(Game("empty"));
    Put("last.dll", "old last");
    std::vector<PayloadFile> files = added;
    files.push_back({"last.dll", "new last"});
    UseUpdater(BuildUpdater(64, files));
    if (c.heldForGood) {
      g_hold = Hold(Game("last.dll"));
      ASSERT_TRUE(g_hold.IsValid());
    } else {
      ASSERT_TRUE(SetFileAttributesA(Game("last.dll").c_str(), FILE_ATTRIBUTE_READONLY));
    }
    warnings_.clear();
    RunChecks checks;
    EXPECT_EQ(0, Run(&checks));
    g_hold.Close();
    SetFileAttributesA(Game("last.dll").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(1u, warnings_.size());
    EXPECT_TRUE(before == TreeContents(gameDir_));
    EXPECT_TRUE(DirectoryExists(Game("empty"))) << "a folder the run did not make went";
    EXPECT_FALSE(DirectoryExists(Game("empty\\made"))) << "a folder the run made stayed";
  }
}

}  // namespace
