// Payloads and paths the updater must refuse before it writes anything, and
// installation that never leaves a torn file in the game directory.
#include "engine_test_support.h"

namespace {

using MendedFaultsTest = EngineTest;

// Points the temporary directory elsewhere for one test.
class TempDirOverride {
 public:
  explicit TempDirOverride(const std::string& dir) : old_(TempDir()) {
    old_.pop_back();
    SetEnvironmentVariableA("TMP", dir.c_str());
  }
  ~TempDirOverride() { SetEnvironmentVariableA("TMP", old_.c_str()); }

 private:
  std::string old_;
};

void ExpectNothingExtracted(const std::string& name, const std::string& gameDir) {
  EXPECT_FALSE(DirectoryExists(RunFolder())) << name;
  EXPECT_FALSE(FileExists(gameDir + "\\" + name)) << name;
}

// Whether the first entry's extracted copy was still there when the second
// began to be extracted; the callback has no context, so it lives here.
std::string g_firstExtracted;
bool g_firstLeftForSecond = true;

void WatchFirstEntry(uint32_t, uint32_t code, uint32_t a, uint32_t) {
  if (code == PG_EXTRACT_BEGIN && a == 2) g_firstLeftForSecond = FileExists(g_firstExtracted);
}

TEST_F(MendedFaultsTest, UnsafeNameFailsTheRunBeforeAnythingIsWritten) {
  const std::string first = Unique("first.dll");
  const std::string unsafe[] = {"..\\" + Unique("evil.dll"), "C:\\" + Unique("evil.dll"),
                                "\\" + Unique("evil.dll"), Unique("x") + "\\..\\..\\evil.dll",
                                std::string(80, 'n')};
  for (const std::string& name : unsafe) {
    UseUpdater(BuildUpdater(64, {{first, "good"}, {name, "bad"}}));
    warnings_.clear();
    progress_.clear();
    bool versionOk;
    EXPECT_EQ(0, Apply(&versionOk)) << name;
    EXPECT_TRUE(versionOk);
    EXPECT_EQ(std::vector<std::string>{"错误的文件名:参数 2"}, warnings_) << name;
    EXPECT_TRUE(progress_.empty()) << name;
    ExpectNothingExtracted(first, gameDir_);
  }
  EXPECT_FALSE(FileExists(TempDir() + "..\\" + Unique("evil.dll")));
  EXPECT_EQ(static_cast<int>(sizeof unsafe / sizeof unsafe[0]), LogCount("错误的文件名:参数 2"));
}

TEST_F(MendedFaultsTest, EntryTableOutsideTheFileFailsBeforeAnythingIsWritten) {
  const std::string first = Unique("first.dll");
  struct Case {
    const char* what;
    uint32_t claimedSize;  // of the second entry, whose data is 5 bytes
    uint32_t entryCount;
    std::string text;
  };
  Bytes probe(64, 'P');
  AppendEntry(probe, first, 4, "good");
  const int secondHeader = static_cast<int>(probe.size());
  const int fileSize = secondHeader + 84 + 5 + static_cast<int>(PATCH_TRAILER_SIZE);
  const Case cases[] = {
      {"past the end", 100000, 2,
       "错误的文件数据:参数 2 " + std::to_string(secondHeader) + " " + std::to_string(fileSize)},
      {"into the trailer", 6, 2,
       "错误的文件数据:参数 2 " + std::to_string(secondHeader) + " " + std::to_string(fileSize)},
      {"too many entries", 5, 1000, "错误的文件数:参数 1000 64"},
  };
  for (const Case& c : cases) {
    Bytes file(64, 'P');
    AppendEntry(file, first, 4, "good");
    AppendEntry(file, Unique("second.dll"), c.claimedSize, "12345");
    AppendTrailer(file, MakeTrailer(64, c.entryCount,
                                    static_cast<uint32_t>(file.size() + PATCH_TRAILER_SIZE)));
    UseUpdater(file);
    warnings_.clear();
    progress_.clear();
    bool versionOk;
    const int logged = LogCount(c.text);
    EXPECT_EQ(0, Apply(&versionOk)) << c.what;
    EXPECT_EQ(std::vector<std::string>{c.text}, warnings_) << c.what;
    EXPECT_EQ(logged + 1, LogCount(c.text)) << c.what;
    EXPECT_TRUE(progress_.empty()) << c.what;
    ExpectNothingExtracted(first, gameDir_);
  }
}

TEST_F(MendedFaultsTest, FailedReplacementKeepsTheOldFileWhole) {
  const std::string name = Unique("kept.dll");
  const std::string target = gameDir_ + "\\" + name;
  EXPECT_TRUE(WriteWholeFile(target, "old contents"));
  SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
  UseUpdater(BuildUpdater(64, {{name, Pattern(9000, 7)}}));
  bool versionOk;
  EXPECT_EQ(0, Apply(&versionOk));
  EXPECT_EQ(1u, warnings_.size());
  EXPECT_EQ(0u, warnings_.at(0).find("拷贝文件错误 "));
  EXPECT_EQ("old contents", ReadWholeFile(target));
  EXPECT_TRUE(ListFiles(gameDir_, "*.upd-new").empty()) << "the partial copy is removed";
  SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(MendedFaultsTest, LeftoversOfAKilledRunAreClearedAndNothingElseIsTouched) {
  const std::string name = Unique("left.dll"), sub = Unique("sub");
  const std::string first = Pattern(6000, 9), second = Pattern(300, 10);
  // What a run killed half-way leaves: its folder with a partial entry, and a
  // torn replacement copy beside the target.
  MakeDirectoryTree(RunFolder() + "\\" + sub);
  EXPECT_TRUE(WriteWholeFile(RunFolder() + "\\" + sub + "\\deep.dll", "partial"));
  // Names with a leading dot are the run's too (a partial download, say).
  EXPECT_TRUE(WriteWholeFile(RunFolder() + "\\.partial", "partial"));
  MakeDirectoryTree(RunFolder() + "\\.cache");
  EXPECT_TRUE(WriteWholeFile(RunFolder() + "\\.cache\\.x", "partial"));
  EXPECT_TRUE(WriteWholeFile(gameDir_ + "\\" + name + ".upd-new", "torn"));
  // Not the run's: a file of the entry's name directly in the temporary directory.
  EXPECT_TRUE(WriteWholeFile(TempDir() + name, "someone else's"));
  UseUpdater(BuildUpdater(64, {{name, first}, {sub + "\\deep.dll", second}}));
  g_firstExtracted = RunFolder() + "\\" + name;
  UpdateSession::SetProgressCallback(WatchFirstEntry, 0);

  bool versionOk;
  ASSERT_EQ(1, Apply(&versionOk)) << (warnings_.empty() ? "" : warnings_[0]);
  EXPECT_FALSE(g_firstLeftForSecond) << "an entry is removed as soon as it is installed";
  EXPECT_EQ(first, ReadWholeFile(gameDir_ + "\\" + name));
  EXPECT_EQ(second, ReadWholeFile(gameDir_ + "\\deep.dll"));
  EXPECT_TRUE(ListFiles(gameDir_, "*.upd-new").empty()) << "the torn copy was reused";
  EXPECT_FALSE(DirectoryExists(RunFolder()));
  EXPECT_EQ("someone else's", ReadWholeFile(TempDir() + name));

  // A file of the folder's name is no run's: it stays, and the run cannot go on.
  EXPECT_TRUE(WriteWholeFile(RunFolder(), "not ours"));
  warnings_.clear();
  EXPECT_EQ(0, Apply(&versionOk));
  EXPECT_EQ(std::vector<std::string>{"错误的临时目录:参数 183"}, warnings_);
  EXPECT_EQ("not ours", ReadWholeFile(RunFolder()));
  DeleteFileA(RunFolder().c_str());
}

TEST_F(MendedFaultsTest, ExtractionPathTooLongFailsWithAText) {
  std::string longTemp = WorkDir() + "\\" + std::string(200 - WorkDir().size(), 't');
  const std::string name = Unique(std::string(70, 'n'));
  MakeDirectoryTree(longTemp);
  TempDirOverride temp(longTemp);
  UseUpdater(BuildUpdater(64, {{name, "data"}}));
  bool versionOk;
  EXPECT_EQ(0, Apply(&versionOk));
  const size_t needed = RunFolder().size() + 1 + name.size();
  ASSERT_GT(needed, 259u);
  const std::string text = "错误的文件路径:参数 1 " + std::to_string(needed);
  EXPECT_EQ(std::vector<std::string>{text}, warnings_);
  EXPECT_EQ(1, LogCount(text));
  EXPECT_FALSE(DirectoryExists(RunFolder()));

  // A temporary directory of 258 characters alone fills the 259 bytes the
  // run asks for: the text gives the size the system asked for (directory,
  // backslash, terminator), not a last error of 0.
  warnings_.clear();
  TempDirOverride tooLong(WorkDir() + "\\" + std::string(257 - WorkDir().size(), 'u'));
  EXPECT_EQ(0, Apply(&versionOk));
  EXPECT_EQ(std::vector<std::string>{"错误的临时目录:参数 260"}, warnings_);
  RemoveTree(longTemp);
}

TEST_F(MendedFaultsTest, LauncherPathsTooLongFailWithATextInsteadOfBeingCut) {
  // The game directory itself fits, but not with "/launch/launch.exe" after it.
  std::string longGame = gameDir_ + "\\" + std::string(250 - gameDir_.size(), 'g');
  ASSERT_EQ(1, g_UpdateSession.SetGameDir(longGame.c_str()));
  const std::string package = TempDir() + Unique("p.tpk");
  EXPECT_TRUE(WriteWholeFile(package, "pkg"));
  EXPECT_EQ(1, g_UpdateSession.RunLauncher(package.c_str(), longGame.c_str()));
  ASSERT_EQ(1u, warnings_.size());
  EXPECT_EQ("laucher path " + longGame + " /launch/launch.exe", warnings_[0]);

  // Launcher found, but the parameter text would exceed 260 bytes.
  warnings_.clear();
  InstallLauncherStandIn();
  const std::string longPackage = TempDir() + std::string(250 - TempDir().size(), 'k') + ".tpk";
  EXPECT_TRUE(WriteWholeFile(longPackage, "pkg"));
  EXPECT_EQ(1, g_UpdateSession.RunLauncher(longPackage.c_str(), gameDir_.c_str()));
  ASSERT_EQ(1u, warnings_.size());
  EXPECT_EQ("laucher path " + longPackage + " " + gameDir_, warnings_[0]);
  EXPECT_TRUE(LaunchRecords().empty()) << "not started with a cut command line";
}

}  // namespace
