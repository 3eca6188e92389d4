// Installation of one extracted file: packages through the launcher stand-in,
// plain files into the game directory.
#include "engine_test_support.h"

namespace {

class InstallEntryTest : public EngineTest {
 protected:
  // An extracted file in the temporary directory, as the run would leave it.
  std::string Extracted(const std::string& name, const std::string& data) {
    std::string path = TempDir() + "\\" + name;
    EXPECT_TRUE(WriteWholeFile(path, data));
    return path;
  }
  int Install(const std::string& path) {
    return g_UpdateSession.InstallEntry(path.c_str(), "unused", 2, 3);
  }
};

const std::vector<ProgressEvent> kInstalled = {{PG_INSTALL_BEGIN, 2, 3}, {PG_INSTALL_END, 2, 3}};

TEST_F(InstallEntryTest, PackageOrPlainFileByExtension) {
  InstallLauncherStandIn();
  const char* packages[] = {"a.tpk", "b.TPK", "c.Tpk"};
  for (const char* suffix : packages) {
    EXPECT_EQ(1, Install(Extracted(Unique(suffix), "pkg"))) << suffix;
    EXPECT_FALSE(FileExists(gameDir_ + "\\" + Unique(suffix))) << "a package is not copied";
  }
  EXPECT_EQ(3u, LaunchRecords().size());

  const char* plain[] = {"d.tpk.bak", "e.tpkx", "f_no_dot"};
  for (const char* suffix : plain) {
    EXPECT_EQ(1, Install(Extracted(Unique(suffix), suffix))) << suffix;
    EXPECT_EQ(suffix, ReadWholeFile(gameDir_ + "\\" + Unique(suffix)));
  }
  // The file name has no dot, a directory of the path has one: not a package.
  MakeDirectoryTree(TempDir() + Unique("dir.tpk"));
  EXPECT_EQ(1, Install(Extracted(Unique("dir.tpk") + "\\plain", "p")));
  EXPECT_EQ("p", ReadWholeFile(gameDir_ + "\\plain"));
  EXPECT_EQ(3u, LaunchRecords().size());
}

TEST_F(InstallEntryTest, PlainFileReplacesTheTargetInTheGameDirectory) {
  const std::string name = Unique("foo.dll");
  EXPECT_TRUE(WriteWholeFile(gameDir_ + "\\" + name, "old"));
  MakeDirectoryTree(TempDir() + Unique("data"));
  EXPECT_EQ(1, Install(Extracted(Unique("data") + "\\" + name, "new contents")));
  EXPECT_EQ("new contents", ReadWholeFile(gameDir_ + "\\" + name));
  EXPECT_EQ(kInstalled, progress_);
  EXPECT_TRUE(ListFiles(gameDir_, "*.upd-new").empty());

  progress_.clear();
  MakeDirectoryTree(gameDir_ + "\\" + Unique("taken.dll"));
  EXPECT_EQ(0, Install(Extracted(Unique("taken.dll"), "x")));
  EXPECT_EQ((std::vector<ProgressEvent>{{PG_INSTALL_BEGIN, 2, 3}}), progress_);
  EXPECT_TRUE(warnings_.empty()) << "a failed plain copy shows nothing itself";
  EXPECT_TRUE(ListFiles(gameDir_, "*.upd-new").empty());
}

TEST_F(InstallEntryTest, LauncherGetsItsCommandLineAndLaunchText) {
  InstallLauncherStandIn();
  const std::string package = Extracted(Unique("cmd.tpk"), "pkg");
  const intptr_t handles[] = {1234, -2147483647 - 1};
  for (intptr_t handle : handles) {
    ownerWindow_ = reinterpret_cast<HWND>(handle);
    progress_.clear();
    EXPECT_EQ(1, Install(package));
    EXPECT_EQ(kInstalled, progress_);
  }
  std::vector<Record> records = LaunchRecords();
  ASSERT_EQ(2u, records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    Record& record = records[i];
    EXPECT_EQ("1", record["args_ok"]) << record["args"];
    EXPECT_EQ(package, record["package"]);
    EXPECT_EQ(gameDir_, record["gamedir"]);
    const std::string tail = " x " + package + " -o\"" + gameDir_ + "\" -r ";
    ASSERT_GE(record["args"].size(), tail.size());
    EXPECT_EQ(tail, record["args"].substr(record["args"].size() - tail.size()));
    EXPECT_EQ("1", record["launch_txt_ok"]);
    EXPECT_EQ(std::to_string(handles[i]), record["handle"]);
  }
  // Both hand-off files are gone once the launcher has ended.
  EXPECT_FALSE(FileExists(TempDir() + "launch.txt"));
  EXPECT_FALSE(FileExists(TempDir() + "launch.exe"));
}

TEST_F(InstallEntryTest, AnyExitCodeCountsAndTheRunWaitsForTheLauncher) {
  InstallLauncherStandIn();
  EXPECT_TRUE(WriteWholeFile(gameDir_ + "\\launch_delay_ms.txt", "400"));
  const std::string package = Extracted(Unique("exit.tpk"), "pkg");
  const char* codes[] = {"0", "7", "-1"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(WriteWholeFile(gameDir_ + "\\launch_exit_code.txt", codes[i]));
    EXPECT_EQ(1, Install(package)) << codes[i];
    // The stand-in writes its record after the delay, right before it ends.
    EXPECT_EQ(i + 1, LaunchRecords().size()) << "returned before the launcher ended";
  }
}

TEST_F(InstallEntryTest, BarePayloadPackageIsAppliedByTheStandIn) {
  InstallLauncherStandIn();
  Bytes package;
  AppendEntry(package, "sub\\game.dat", 9, "game data");
  AppendEntry(package, "top.dat", 3, "top");
  AppendTrailer(package,
                MakeTrailer(0, 2, static_cast<uint32_t>(package.size() + PATCH_TRAILER_SIZE)));
  const std::string path = TempDir() + "\\" + Unique("bare.tpk");
  EXPECT_TRUE(WriteWholeFile(path, package));
  EXPECT_EQ(1, Install(path));
  EXPECT_EQ("game data", ReadWholeFile(gameDir_ + "\\sub\\game.dat"));
  EXPECT_EQ("top", ReadWholeFile(gameDir_ + "\\top.dat"));
  std::vector<Record> records = LaunchRecords();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ("payload", records[0]["package_kind"]);
  EXPECT_EQ("2", records[0]["applied"]);
}

TEST_F(InstallEntryTest, LauncherFailureTexts) {
  const std::string package = Extracted(Unique("fail.tpk"), "pkg");
  const std::string source = gameDir_ + "/launch/launch.exe";
  const std::string copy = TempDir() + "\\launch.exe";
  MakeDirectoryTree(gameDir_ + "\\launch");
  EXPECT_EQ(0, Install(package));
  EXPECT_EQ(std::vector<std::string>{"copy laucher " + source + " " + copy + " 2"}, warnings_);
  EXPECT_EQ((std::vector<ProgressEvent>{{PG_INSTALL_BEGIN, 2, 3}}), progress_);

  // "launch.txt" cannot be created: a directory of that name is in the way.
  warnings_.clear();
  InstallLauncherStandIn();
  const std::string launchText = TempDir() + "\\launch.txt";
  DeleteFileA(launchText.c_str());
  ASSERT_TRUE(CreateDirectoryA(launchText.c_str(), nullptr));
  EXPECT_EQ(1, g_UpdateSession.RunLauncher(package.c_str(), gameDir_.c_str()));
  RemoveDirectoryA(launchText.c_str());
  EXPECT_EQ(std::vector<std::string>{"laucher txt " + launchText}, warnings_);
  EXPECT_TRUE(LaunchRecords().empty());
  EXPECT_FALSE(FileExists(copy)) << "the launcher's copy goes after a failed hand-off too";
}

}  // namespace
