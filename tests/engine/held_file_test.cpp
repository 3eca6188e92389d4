// Files another program holds for a moment (a scanner, an indexer, a sync
// client): the run waits them out within its bound, and gives up after it
// exactly as before, with one log line naming the file. The waits go through
// the retry seam: a brief hold is released when the run makes its first
// retry, and a hold for the whole run costs no real time.
#include <numeric>

#include "encoded_entries.h"
#include "engine_test_support.h"
#include "file_holder.h"
#include "update/files/file_retry.h"

namespace {

struct SeenWait {
  std::string path;
  uint32_t milliseconds;
};

std::vector<SeenWait> g_waits;
FileHolder* g_releaseOnFirstWait = nullptr;

void RecordWait(const char* path, uint32_t milliseconds) {
  g_waits.push_back(SeenWait{path, milliseconds});
  if (g_releaseOnFirstWait != nullptr) {
    g_releaseOnFirstWait->Release();
    g_releaseOnFirstWait = nullptr;
  }
}

uint32_t TotalWaited() {
  uint32_t total = 0;
  for (const SeenWait& wait : g_waits) total += wait.milliseconds;
  return total;
}

// Built beside the test program.
std::string HolderExe() { return WorkDir() + "\\file_holder.exe"; }

// Records the waits instead of the base's silent ones.
class HeldFileTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    g_waits.clear();
    g_releaseOnFirstWait = nullptr;
    SetFileRetryWait(&RecordWait);
  }
};

const char kRetryText[] = "文件被占用,等待重试 ";
const char kGaveUpText[] = "文件被其他程序占用 ";

TEST_F(HeldFileTest, TargetHeldForAMomentIsWaitedOut) {
  const std::string name = Unique("held.dll"), target = gameDir_ + "\\" + name;
  ASSERT_TRUE(WriteWholeFile(target, "old contents"));
  UseUpdater(BuildUpdater(64, {{name, Pattern(9000, 4)}}));
  FileHolder holder(HolderExe());
  ASSERT_TRUE(holder.Hold(target));
  g_releaseOnFirstWait = &holder;

  bool versionOk;
  ASSERT_EQ(1, Apply(&versionOk)) << (warnings_.empty() ? "" : warnings_[0]);
  EXPECT_TRUE(warnings_.empty());
  EXPECT_EQ(Pattern(9000, 4), ReadWholeFile(target));
  ASSERT_FALSE(g_waits.empty()) << "the held file was never retried";
  EXPECT_EQ(target, g_waits[0].path);
  EXPECT_EQ(FILE_RETRY_FIRST_WAIT_MS, g_waits[0].milliseconds);
  EXPECT_EQ(1, LogCount(kRetryText + target + " "));
  EXPECT_EQ(0, LogCount(kGaveUpText + target));
  EXPECT_TRUE(ListFiles(gameDir_, "*.upd-new").empty());
  EXPECT_FALSE(DirectoryExists(RunFolder()));
}

TEST_F(HeldFileTest, TargetHeldForTheWholeRunFailsAfterTheBoundAndLeavesNothing) {
  const std::string name = Unique("kept.dll"), target = gameDir_ + "\\" + name;
  ASSERT_TRUE(WriteWholeFile(target, "old contents"));
  UseUpdater(BuildUpdater(64, {{name, Pattern(9000, 5)}}));
  FileHolder holder(HolderExe());
  ASSERT_TRUE(holder.Hold(target));

  // Other tests of this program roll back too.
  const int undone = LogCount("更新失败,游戏文件已恢复为更新前的状态");
  bool versionOk;
  EXPECT_EQ(0, Apply(&versionOk));
  holder.Release();
  EXPECT_TRUE(versionOk) << "the worker then shows its general message, as before";
  ASSERT_EQ(1u, warnings_.size());
  // Staged whole, the file could not be put in place: the commit rolled back.
  EXPECT_EQ(0u, warnings_[0].find("写入文件错误 ")) << warnings_[0];
  EXPECT_EQ(undone + 1, LogCount("更新失败,游戏文件已恢复为更新前的状态"));
  EXPECT_EQ("old contents", ReadWholeFile(target));
  EXPECT_EQ("1.4.1.34000", IniValue(gameDir_ + "\\Config\\Client.ini", "Version", "GameVersion"));
  EXPECT_TRUE(ListFiles(gameDir_, "*.upd-*").empty());
  EXPECT_TRUE(ListFiles(gameDir_, "*.journal").empty());
  EXPECT_FALSE(DirectoryExists(RunFolder()));

  // The whole budget and no more, every wait for the one file, growing.
  EXPECT_EQ(FILE_RETRY_BUDGET_MS, TotalWaited());
  for (size_t i = 0; i < g_waits.size(); ++i) {
    EXPECT_EQ(target, g_waits[i].path) << i;
    if (i > 0 && i + 1 < g_waits.size()) {
      EXPECT_GE(g_waits[i].milliseconds, g_waits[i - 1].milliseconds);
    }
  }
  EXPECT_EQ(static_cast<int>(g_waits.size()), LogCount(kRetryText + target + " "));
  EXPECT_EQ(1, LogCount(kGaveUpText + target + " "));
}

// A described file is decoded beside its target and renamed over it: the
// rename waits out a holder within the file's budget, as a copy does.
TEST_F(HeldFileTest, DescribedTargetHeldForAMomentIsWaitedOut) {
  const std::string target = gameDir_ + "\\data\\held.dat";
  MakeDirectoryTree(gameDir_ + "\\data");
  ASSERT_TRUE(WriteWholeFile(target, "old contents"));
  UseUpdater(
      BuildUpdater(64, {PathFileEntry("data\\held.dat", Pattern(9000, 6), EntryCoding::Stored)}));
  FileHolder holder(HolderExe());
  ASSERT_TRUE(holder.Hold(target));
  g_releaseOnFirstWait = &holder;

  bool versionOk;
  ASSERT_EQ(1, Apply(&versionOk)) << (warnings_.empty() ? "" : warnings_[0]);
  EXPECT_EQ(Pattern(9000, 6), ReadWholeFile(target));
  ASSERT_EQ(1u, g_waits.size());
  EXPECT_EQ(target, g_waits[0].path);
  EXPECT_EQ(1, LogCount(kRetryText + target + " "));
  EXPECT_TRUE(ListFiles(gameDir_ + "\\data", "*.upd-new").empty());
}

TEST_F(HeldFileTest, LauncherCopyHeldForAMomentIsWaitedOut) {
  InstallLauncherStandIn();
  // A copy an earlier hand-off could not remove, now opened by a scanner;
  // named as the run composes it (the doubled separator included).
  const std::string copy = TempDir() + "\\launch.exe";
  ASSERT_TRUE(WriteWholeFile(copy, "an earlier copy"));
  const std::string package = Unique("held.tpk");
  UseUpdater(BuildUpdater(64, {{package, BarePackage({{Unique("in.dll"), "x"}})}}));
  FileHolder holder(HolderExe());
  ASSERT_TRUE(holder.Hold(copy));
  g_releaseOnFirstWait = &holder;

  bool versionOk;
  ASSERT_EQ(1, Apply(&versionOk)) << (warnings_.empty() ? "" : warnings_[0]);
  ASSERT_FALSE(g_waits.empty());
  EXPECT_EQ(copy, g_waits[0].path);
  EXPECT_EQ(1u, LaunchRecords().size());
  EXPECT_FALSE(FileExists(copy)) << "removed once the launcher ended";
}

// Steps on one file share its budget: the two values of the version record
// wait ten seconds in all, not ten each.
TEST_F(HeldFileTest, VersionRecordOfAHeldFileWaitsOneBudget) {
  UseUpdater(BuildUpdater(64, {}));
  const std::string ini = gameDir_ + "\\Config\\Client.ini";
  FileHolder holder(HolderExe());
  ASSERT_TRUE(holder.Hold(ini));
  EXPECT_FALSE(g_UpdateSession.WriteVersionRecord());
  holder.Release();
  EXPECT_EQ(FILE_RETRY_BUDGET_MS, TotalWaited());
  EXPECT_EQ("1.4.1.34000", IniValue(ini, "Version", "GameVersion"));
}

// Only a file some program holds is worth waiting for: a refusal for good
// fails at once, as before.
TEST_F(HeldFileTest, LastingRefusalsAreNotRetried) {
  const std::string normal = gameDir_ + "\\" + Unique("normal.dat");
  const std::string readOnly = gameDir_ + "\\" + Unique("readonly.dat");
  ASSERT_TRUE(WriteWholeFile(normal, "n"));
  ASSERT_TRUE(WriteWholeFile(readOnly, "r"));
  ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
  const std::string missing = gameDir_ + "\\missing\\file.dat";
  EXPECT_TRUE(IsFileHeldError(ERROR_SHARING_VIOLATION, missing.c_str()));
  EXPECT_TRUE(IsFileHeldError(ERROR_LOCK_VIOLATION, missing.c_str()));
  EXPECT_TRUE(IsFileHeldError(ERROR_ACCESS_DENIED, normal.c_str()));
  EXPECT_FALSE(IsFileHeldError(ERROR_ACCESS_DENIED, readOnly.c_str()));
  EXPECT_FALSE(IsFileHeldError(ERROR_ACCESS_DENIED, missing.c_str()));
  EXPECT_FALSE(IsFileHeldError(ERROR_ACCESS_DENIED, gameDir_.c_str())) << "a folder in the way";
  EXPECT_FALSE(IsFileHeldError(ERROR_FILE_NOT_FOUND, normal.c_str()));
  EXPECT_FALSE(IsFileHeldError(ERROR_DISK_FULL, normal.c_str()));

  // A read-only file refuses its deletion with access denied: no wait.
  EXPECT_FALSE(RetryingDeleteFile(readOnly.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_TRUE(g_waits.empty());
  SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The wrappers report the system's own error once the bound is reached, and
// succeed as soon as the holder lets go.
TEST_F(HeldFileTest, WrappersWaitForTheHolderAndKeepTheLastError) {
  const std::string path = gameDir_ + "\\" + Unique("doomed.dat");
  ASSERT_TRUE(WriteWholeFile(path, "x"));
  FileHolder holder(HolderExe());
  ASSERT_TRUE(holder.Hold(path));
  EXPECT_FALSE(RetryingDeleteFile(path.c_str()));
  const DWORD error = GetLastError();
  EXPECT_TRUE(error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) << error;
  EXPECT_EQ(FILE_RETRY_BUDGET_MS, TotalWaited());
  EXPECT_TRUE(FileExists(path));

  g_waits.clear();
  g_releaseOnFirstWait = &holder;
  EXPECT_TRUE(RetryingDeleteFile(path.c_str()));
  EXPECT_EQ(1u, g_waits.size());
  EXPECT_FALSE(FileExists(path));
}

}  // namespace
