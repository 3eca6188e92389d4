// The update run as the game sees it: trailer and version failures with their
// texts, the entry loop with its progress, extraction and installation.
#include "engine_test_support.h"
#include "update/files/create_parent_dirs.h"
#include "update/files/win32_handle.h"
#include "update/session/host_hooks.h"

namespace {

using ApplyPatchTest = EngineTest;

constexpr uint32_t kMagicAsDecimal = 508773209;

TEST_F(ApplyPatchTest, FileShorterThanTheTrailer) {
  UseUpdater(Bytes(100, 'P'));
  bool versionOk;
  EXPECT_EQ(0, Apply(&versionOk));
  EXPECT_TRUE(versionOk);
  const std::string text = "错误的文件长度:参数 100 -36 136";
  EXPECT_EQ(std::vector<std::string>{text}, warnings_);
  EXPECT_EQ(1, LogCount(text));
}

TEST_F(ApplyPatchTest, TotalSizeOrMagicWrongIsRefused) {
  const std::string data = "payload";
  for (int variant = 0; variant < 3; ++variant) {
    Bytes file(64, 'P');
    AppendEntry(file, Unique("a.dll"), static_cast<uint32_t>(data.size()), data);
    uint32_t actual = static_cast<uint32_t>(file.size() + PATCH_TRAILER_SIZE);
    PatchTrailer trailer = MakeTrailer(64, 1,
                                       variant == 0   ? actual + 1
                                       : variant == 1 ? actual - 1
                                                      : actual);
    if (variant == 2) trailer.magic = 0x1E534358;
    AppendTrailer(file, trailer);
    UseUpdater(file);
    warnings_.clear();

    bool versionOk;
    EXPECT_EQ(0, Apply(&versionOk)) << variant;
    EXPECT_TRUE(versionOk);
    char text[100];
    std::snprintf(text, sizeof text, "错误文件长度: %d %d %d",
                  static_cast<int>(trailer.totalFileSize), static_cast<int>(actual),
                  static_cast<int>(trailer.magic));
    EXPECT_EQ(std::vector<std::string>{text}, warnings_) << variant;
    EXPECT_EQ(1, LogCount(text)) << variant;
    EXPECT_TRUE(progress_.empty());
    EXPECT_FALSE(DirectoryExists(RunFolder())) << "nothing is extracted from a refused file";
    if (variant < 2) {
      const std::string magic = " " + std::to_string(kMagicAsDecimal);
      EXPECT_EQ(warnings_.at(0).size() - magic.size(), warnings_.at(0).rfind(magic));
    }
  }
}

TEST_F(ApplyPatchTest, ProgramWithoutPayloadShowsVersionThenTrailerText) {
  Bytes file(600, '\0');  // versions read as empty texts: the gate refuses
  UseUpdater(file);
  bool versionOk;
  EXPECT_EQ(0, Apply(&versionOk));
  EXPECT_FALSE(versionOk);
  const std::string trailerText = "错误文件长度: 0 600 0";
  EXPECT_EQ((std::vector<std::string>{"更新版本号不对,请重新下载!", trailerText}), warnings_);
  EXPECT_EQ(1, LogCount(trailerText));
  EXPECT_EQ(0, LogCount("更新版本号不对"));
  EXPECT_EQ("", g_UpdateSession.baseVersion);
}

TEST_F(ApplyPatchTest, RefusedVersionInAutomaticModeShowsAndLogsNothing) {
  UseUpdater(BuildUpdater(64, {{Unique("a.dll"), "data"}}));
  SetInstalledVersion("1.4.1.33959");
  g_UpdateSession.autoMode = true;
  bool versionOk;
  EXPECT_EQ(0, Apply(&versionOk));
  EXPECT_FALSE(versionOk);
  EXPECT_TRUE(warnings_.empty());
  EXPECT_TRUE(progress_.empty());
  EXPECT_EQ("1.4.1.33960", g_UpdateSession.baseVersion);
  EXPECT_EQ("1.4.1.34242", g_UpdateSession.targetVersion);

  g_UpdateSession.autoMode = false;
  EXPECT_EQ(0, Apply(&versionOk));
  EXPECT_EQ(std::vector<std::string>{"更新版本号不对,请重新下载!"}, warnings_);
  // No Client.ini at all: an empty installed version is refused too.
  DeleteFileA((gameDir_ + "\\Config\\Client.ini").c_str());
  EXPECT_EQ(0, Apply(&versionOk));
  EXPECT_FALSE(versionOk);
}

// A journal whose commit has ended waits only for its backups to go, which
// the next run in the patch's range sees to: it is no unfinished update of
// another patch, and a version out of range is refused as such.
TEST_F(ApplyPatchTest, AnEndedCommitsJournalLeavesAVersionOutOfRangeRefused) {
  UseUpdater(BuildUpdater(64, {{Unique("a.dll"), "data"}}));
  const std::string journal = gameDir_ + "\\TPK_MVR_J_UPDATE.journal";
  ASSERT_TRUE(WriteWholeFile(journal,
                             "journal 1\npatch 0123456789abcdef0123456789abcdef 1.4.1.33960\n"
                             "state done\nreplace a.dll\n"));
  SetInstalledVersion("1.4.1.33959");
  bool versionOk;
  EXPECT_EQ(0, Apply(&versionOk));
  EXPECT_FALSE(versionOk);
  EXPECT_EQ(std::vector<std::string>{"更新版本号不对,请重新下载!"}, warnings_);

  // In range, the run cleans it up and goes on.
  warnings_.clear();
  SetInstalledVersion("1.4.1.34000");
  EXPECT_EQ(1, Apply(&versionOk)) << (warnings_.empty() ? "" : warnings_[0]);
  EXPECT_FALSE(FileExists(journal));
}

TEST_F(ApplyPatchTest, OwnFileMissingOrUnnamedFailsSilently) {
  bool versionOk;
  EXPECT_EQ(0, Apply(&versionOk)) << "no updater file written";
  SetOwnPathProvider([](char*, uint32_t) -> uint32_t { return 0; });
  EXPECT_EQ(0, Apply(&versionOk));
  EXPECT_TRUE(versionOk);
  EXPECT_TRUE(warnings_.empty());
}

TEST_F(ApplyPatchTest, NoEntriesIsSuccessWithoutProgress) {
  UseUpdater(BuildUpdater(64, {}));
  bool versionOk;
  EXPECT_EQ(1, Apply(&versionOk));
  EXPECT_TRUE(progress_.empty());
  EXPECT_TRUE(warnings_.empty());
}

TEST_F(ApplyPatchTest, ChunkBoundariesAndTheExactProgressSequence) {
  const std::string empty, one = Pattern(4096, 1), two = Pattern(4097, 2);
  UseUpdater(BuildUpdater(
      64, {{Unique("0.dat"), empty}, {Unique("4096.dat"), one}, {Unique("4097.dat"), two}}));
  bool versionOk;
  ASSERT_EQ(1, Apply(&versionOk));
  EXPECT_TRUE(warnings_.empty());
  const std::vector<ProgressEvent> expected = {
      {PG_EXTRACT_BEGIN, 1, 3}, {PG_EXTRACT_END, 1, 3},      {PG_INSTALL_BEGIN, 1, 3},
      {PG_INSTALL_END, 1, 3},   {PG_EXTRACT_BEGIN, 2, 3},    {PG_EXTRACT_BYTES, 0, 4096},
      {PG_EXTRACT_END, 2, 3},   {PG_INSTALL_BEGIN, 2, 3},    {PG_INSTALL_END, 2, 3},
      {PG_EXTRACT_BEGIN, 3, 3}, {PG_EXTRACT_BYTES, 1, 4097}, {PG_EXTRACT_BYTES, 0, 4097},
      {PG_EXTRACT_END, 3, 3},   {PG_INSTALL_BEGIN, 3, 3},    {PG_INSTALL_END, 3, 3},
  };
  EXPECT_EQ(expected, progress_);
  EXPECT_TRUE(FileExists(gameDir_ + "\\" + Unique("0.dat")));
  EXPECT_EQ(one, ReadWholeFile(gameDir_ + "\\" + Unique("4096.dat")));
  EXPECT_EQ(two, ReadWholeFile(gameDir_ + "\\" + Unique("4097.dat")));
  EXPECT_TRUE(ListFiles(gameDir_, "*.upd-new").empty()) << "no copy left beside the targets";
  EXPECT_FALSE(DirectoryExists(RunFolder())) << "no extracted file left behind";
}

TEST_F(ApplyPatchTest, RunsAgainAfterSuccessAndWithoutCallback) {
  const std::string data = Pattern(5000, 3);
  UseUpdater(BuildUpdater(64, {{Unique("again.dll"), data}}));
  SetInstalledVersion("1.4.1.34242");  // the target: applying again is accepted
  UpdateSession::SetProgressCallback(nullptr, 0);
  EXPECT_TRUE(WriteWholeFile(gameDir_ + "\\" + Unique("again.dll"), "old contents"));
  bool versionOk;
  EXPECT_EQ(1, Apply(&versionOk));
  EXPECT_TRUE(progress_.empty());
  EXPECT_EQ(data, ReadWholeFile(gameDir_ + "\\" + Unique("again.dll")));
}

TEST_F(ApplyPatchTest, SubdirectoriesAreCreatedForExtractionOnly) {
  const std::string deep = Pattern(10, 4), slashed = Pattern(11, 5);
  UseUpdater(BuildUpdater(
      64, {{Unique("d") + "\\data\\x.dll", deep}, {Unique("s") + "/more/y.dll", slashed}}));
  bool versionOk;
  ASSERT_EQ(1, Apply(&versionOk));
  EXPECT_FALSE(DirectoryExists(RunFolder())) << "the folders made for extraction are gone too";
  // Installed under the last component, directly in the game directory.
  EXPECT_EQ(deep, ReadWholeFile(gameDir_ + "\\x.dll"));
  EXPECT_EQ(slashed, ReadWholeFile(gameDir_ + "\\y.dll"));
  EXPECT_FALSE(DirectoryExists(gameDir_ + "\\data"));
}

TEST_F(ApplyPatchTest, DoubleByteNamesWithBackslashTrailBytes) {
  // 礬 is B5 5C in GBK: its second byte is the backslash.
  const std::string dir = Unique("礬"), file = "礬表.dll";
  const std::string data = Pattern(300, 6);
  UseUpdater(BuildUpdater(64, {{dir + "\\" + file, data}}));
  bool versionOk;
  ASSERT_EQ(1, Apply(&versionOk)) << (warnings_.empty() ? "" : warnings_[0]);
  EXPECT_FALSE(DirectoryExists(RunFolder()));
  EXPECT_EQ(data, ReadWholeFile(gameDir_ + "\\" + file));
}

TEST_F(ApplyPatchTest, CreateParentDirsWalksWholeCharacters) {
  const std::string base = TempDir() + Unique("礬");
  CreateParentDirs((base + "\\表\\a.txt").c_str());
  EXPECT_TRUE(DirectoryExists(base + "\\表"));
  EXPECT_FALSE(DirectoryExists(base.substr(0, base.size() - 1)))
      << "no directory cut at the trail byte";
}

TEST_F(ApplyPatchTest, EmptyNameIsTheTopLevelPackage) {
  InstallLauncherStandIn();
  UseUpdater(BuildUpdater(64, {{"", "package bytes"}}));
  bool versionOk;
  ASSERT_EQ(1, Apply(&versionOk));
  std::vector<Record> records = LaunchRecords();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(RunFolder() + "\\toplevel.tpk", records[0]["package"]) << "doubled separator kept";
  EXPECT_FALSE(DirectoryExists(RunFolder()));
  EXPECT_EQ("other", records[0]["package_kind"]);
}

TEST_F(ApplyPatchTest, ExtractionFileThatCannotBeCreated) {
  const std::string blocked = Unique("blocked.dll");
  // A directory of that name is in the way, and a file in it that another
  // program holds open keeps it from being cleared away before the run.
  MakeDirectoryTree(RunFolder() + "\\" + blocked);
  UniqueHandle held(CreateFileA((RunFolder() + "\\" + blocked + "\\held").c_str(), GENERIC_WRITE, 0,
                                nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(held.IsValid());
  UseUpdater(BuildUpdater(64, {{blocked, "data"}}));
  bool versionOk;
  EXPECT_EQ(0, Apply(&versionOk));
  held.Close();
  RemoveTree(RunFolder());
  EXPECT_TRUE(versionOk);
  EXPECT_TRUE(warnings_.empty());
  EXPECT_EQ((std::vector<ProgressEvent>{{PG_EXTRACT_BEGIN, 1, 1}}), progress_);
}

TEST_F(ApplyPatchTest, InstallFailureTextIsLoggedVerbatimAndCut) {
  // A directory of the same name in the game directory refuses the copy. The
  // name's "%" signs must reach the log as they are.
  const std::string name = Unique("100%s%d%n" + std::string(40, 'x') + ".dll");
  MakeDirectoryTree(gameDir_ + "\\" + name);
  UseUpdater(BuildUpdater(64, {{name, "data"}}));
  bool versionOk;
  EXPECT_EQ(0, Apply(&versionOk));
  EXPECT_TRUE(versionOk);
  const std::string full = "拷贝文件错误 " + RunFolder() + "\\" + name + " " + name + " 1";
  ASSERT_EQ(1u, warnings_.size());
  const std::string& shown = warnings_[0];
  EXPECT_EQ(full.substr(0, shown.size()), shown);
  ASSERT_GT(full.size(), 99u);
  EXPECT_EQ(99u, shown.size()) << "cut to the 100-byte buffer";
  EXPECT_EQ(1, LogCount(shown));
  EXPECT_TRUE(ListFiles(gameDir_, "*.upd-new").empty());
  EXPECT_FALSE(DirectoryExists(RunFolder())) << "a failed run removes what it extracted";
}

// The run ends at the first entry that cannot be installed. The worker's
// general message after this failure text is held by the automatic-mode GUI
// test of a damaged patch.
TEST_F(ApplyPatchTest, FailedInstallationStopsTheRun) {
  const std::string blocked = Unique("blocked.dll"), after = Unique("after.dll");
  MakeDirectoryTree(gameDir_ + "\\" + blocked);  // a directory refuses the copy
  UseUpdater(BuildUpdater(64, {{blocked, "one"}, {after, "two"}}));
  bool versionOk;
  EXPECT_EQ(0, Apply(&versionOk));
  const std::vector<ProgressEvent> expected = {{PG_EXTRACT_BEGIN, 1, 2},
                                               {PG_EXTRACT_BYTES, 0, 3},
                                               {PG_EXTRACT_END, 1, 2},
                                               {PG_INSTALL_BEGIN, 1, 2}};
  // Nothing for the second entry: it was never extracted.
  EXPECT_EQ(expected, progress_);
  // The text is formatted into 100 bytes, so a long path cuts it short.
  const std::string text = "拷贝文件错误 " + RunFolder() + "\\" + blocked + " " + blocked + " 2";
  EXPECT_EQ(std::vector<std::string>{text.substr(0, 99)}, warnings_);
  EXPECT_FALSE(FileExists(gameDir_ + "\\" + after)) << "the second entry was installed";
}

}  // namespace
