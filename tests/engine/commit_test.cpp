// The commit of a run and its rollback, in-process: what other programs do
// to the game directory while the staged files go in place, and what the
// run and the next one then leave.
#include "update/install/commit.h"
#include "described_run.h"
#include "update/base/md5.h"
#include "update/files/file_retry.h"
#include "update/files/win32_handle.h"

namespace {

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

class CommitTest : public DescribedRunTest {
 protected:
  void TearDown() override {
    g_hold.Close();
    g_from.clear();
    DescribedRunTest::TearDown();
  }

  // Nothing of the run's own is left in the game directory.
  void ExpectNothingLeft() const {
    for (const auto& item : TreeContents(gameDir_)) {
      EXPECT_EQ(std::string::npos, item.first.find(".upd-")) << item.first;
      EXPECT_EQ(std::string::npos, item.first.find(".journal")) << item.first;
    }
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
  RunFailure failure;
  ASSERT_TRUE(RecoverCommit(gameDir_.c_str(), UpdaterDigest(), failure)) << failure.text;
  EXPECT_EQ(1, LogCount(kFinished));
  EXPECT_EQ("new a", Read("a.dll"));
  EXPECT_EQ("new b", Read("b.dll"));
  ExpectNothingLeft();
}

}  // namespace
