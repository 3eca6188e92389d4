// mkpatch's Windows build on a Chinese file name: arguments and paths arrive
// as UTF-8 (from UTF-16), entry names must be stored as code page 936 bytes,
// and those bytes must open the same file through the ANSI API the updater
// uses.
#include <windows.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "file_helpers.h"
#include "mkpatch/commands/mkpatch.h"
#include "mkpatch/fs/file_system.h"
#include "mkpatch/fs/name_encoding.h"
#include "mkpatch/inspect/profile_string.h"
#include "update/files/win32_handle.h"
#include "update/format/entry_name.h"

namespace {

std::string TempDirectory() {
  wchar_t buffer[MAX_PATH];
  DWORD length = GetTempPathW(MAX_PATH, buffer);
  std::string base = WideToUtf8(std::wstring(buffer, length));
  return JoinPath(base, "mkpatch_wine_" + std::to_string(GetCurrentProcessId()));
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  UniqueFile file = OpenFile(path, "wb");
  ASSERT_TRUE(file);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file.Get()), bytes.size());
}

// The file's bytes, opened by its UTF-8 path converted to code page 936 and
// handed to the ANSI API, as the updater names files.
std::string ReadThroughAnsi(const std::string& utf8Path) {
  std::string ansiPath;
  if (!Utf8ToGbk(utf8Path, &ansiPath)) return "<not GBK>";
  UniqueHandle file(CreateFileA(ansiPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  if (!file.IsValid()) return "<missing>";
  std::string bytes(1 << 16, '\0');
  DWORD got = 0;
  ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr);
  bytes.resize(got);
  return bytes;
}

void RemoveAll(const std::string& utf8Path) {
  std::string ansiPath;
  if (Utf8ToGbk(utf8Path, &ansiPath)) RemoveTree(ansiPath);
}

int RunTool(std::vector<std::string> args, std::string* out) {
  std::ostringstream o, e;
  int code = RunMkpatch(args, o, e);
  *out = o.str() + e.str();
  return code;
}

}  // namespace

// Every GBK test below rests on these two: the prefix's ANSI code page, and
// Chinese literals compiled to GBK bytes rather than UTF-8.
TEST(CodePage936, PrefixAndLiteralsAreGbk) {
  EXPECT_EQ(GetACP(), 936u);
  EXPECT_STREQ("更新", "\xB8\xFC\xD0\xC2");
}

TEST(MkpatchWine, GbkNameRoundTrip) {
  ASSERT_EQ(GetACP(), 936u) << "the tests expect the Chinese ANSI code page";
  const std::string root = TempDirectory();
  const std::string utf8Name = u8"更新/数据.dll";
  const std::string gbkEntry = "\xB8\xFC\xD0\xC2\\\xCA\xFD\xBE\xDD.dll";
  ASSERT_TRUE(MakeDirectories(JoinPath(root, u8"in/更新")));
  {
    UniqueFile file = OpenFile(JoinPath(root, "in/" + utf8Name), "wb");
    ASSERT_TRUE(file);
    std::fputs("payload bytes", file.Get());
  }
  std::string output;
  const std::string package = JoinPath(root, u8"补丁.tpk");
  ASSERT_EQ(RunTool({"build", "-o", package, "--base", "1.0.0.0", "--target", "1.0.0.1",
                     JoinPath(root, "in")},
                    &output),
            0)
      << output;

  UniqueFile built = OpenFile(package, "rb");
  ASSERT_TRUE(built);
  char header[84] = {};
  ASSERT_EQ(std::fread(header, 1, sizeof header, built.Get()), sizeof header);
  built.Reset();
  EXPECT_EQ(std::string(header), gbkEntry);
  EXPECT_TRUE(IsSafeEntryName(header, sizeof header));

  ASSERT_EQ(RunTool({"list", package}, &output), 0);
  EXPECT_NE(output.find(u8"更新\\数据.dll"), std::string::npos) << output;

  const std::string extracted = JoinPath(root, "out");
  ASSERT_EQ(RunTool({"extract", package, extracted}, &output), 0) << output;
  // The ANSI path the updater would form from the stored name.
  std::string ansiDirectory;
  ASSERT_TRUE(Utf8ToGbk(extracted, &ansiDirectory));
  std::string ansiPath = ansiDirectory + "\\" + gbkEntry;
  UniqueHandle file(CreateFileA(ansiPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file.IsValid()) << "extracted file not found under its GBK name";
  char bytes[32] = {};
  DWORD got = 0;
  ReadFile(file.Get(), bytes, sizeof bytes, &got, nullptr);
  EXPECT_EQ(std::string(bytes, got), "payload bytes");

  // A name the code page cannot hold is refused, not mangled.
  ASSERT_EQ(RunTool({"build", "-o", JoinPath(root, "bad.tpk"), "--base", "1.0.0.0", "--target",
                     "1.0.0.1", "--name", u8"\uD55C.dll=" + JoinPath(root, "in/" + utf8Name)},
                    &output),
            1);
  EXPECT_NE(output.find("code page 936"), std::string::npos) << output;
  EXPECT_FALSE(IsRegularFile(JoinPath(root, "bad.tpk")));

  RemoveFile(JoinPath(root, "in/" + utf8Name));
  RemoveFile(JoinPath(root, u8"out/更新/数据.dll"));
  RemoveFile(package);
}

// mkpatch.exe's dry run on a Chinese game directory, and its INI reading
// next to the profile API the updater itself calls.
TEST(MkpatchWine, CheckAgreesWithTheProfileApi) {
  const std::string root = TempDirectory() + "_check";
  const std::string game = JoinPath(root, u8"游戏");
  ASSERT_TRUE(MakeDirectories(JoinPath(game, "Config")));
  ASSERT_TRUE(MakeDirectories(JoinPath(root, u8"in/data")));
  WriteBytes(JoinPath(game, "Config/Client.ini"), "[Version]\r\nGameVersion = 1.0.0.1\r\n");
  WriteBytes(JoinPath(game, "SAME.DAT"), "same");
  WriteBytes(JoinPath(root, u8"in/data/same.dat"), "same");
  WriteBytes(JoinPath(root, u8"in/数据.dll"), "new");
  WriteBytes(JoinPath(root, "stub.exe"), "MZ");
  const std::string updater = JoinPath(root, "Update.exe");
  std::string output;
  ASSERT_EQ(RunTool({"build", "-o", updater, "--stub", JoinPath(root, "stub.exe"), "--base",
                     "1.0.0.0", "--target", "1.0.0.2", JoinPath(root, "in")},
                    &output),
            0)
      << output;
  ASSERT_EQ(RunTool({"check", updater, game, "--json"}, &output), 0) << output;
  EXPECT_EQ(output,
            u8"{\"installedVersion\":\"1.0.0.1\",\"baseVersion\":\"1.0.0.0\","
            u8"\"targetVersion\":\"1.0.0.2\",\"applies\":true,\"pendingCommit\":\"none\","
            u8"\"spaceNeeded\":{\"game\":1048583,\"temp\":1048580},\"entries\":["
            u8"{\"name\":\"data\\\\same.dat\",\"install\":\"file\",\"destination\":\"same.dat\","
            u8"\"action\":\"same\"},"
            u8"{\"name\":\"数据.dll\",\"install\":\"file\",\"destination\":\"数据.dll\","
            u8"\"action\":\"new\"}]}\n");

  const char* const inis[] = {
      "[version]\r\n  GAMEVERSION  =  \"1.2.3.4\"  \r\n",
      "; setup\r\n[Version]\r\n;GameVersion=1\r\nGameVersion=2\r\nGameVersion=3\r\n",
      "[Version]\r\nX=1\r\n[Version]\r\nGameVersion=2\r\n",
      "[Version]\r\nGameVersion='1.0' ; note\r\n",
      "[Version]\r\nGameVersion\r\n",
      "[ Version ]\r\nGameVersion=5\r\n",
      "\xEF\xBB\xBF[Version]\r\nGameVersion=6\r\n",
      "[Version\r\nGameVersion=7\r\n",
      "[Version]x\r\nGameVersion=8\r\n",
      "[Version]\r\n\"GameVersion\"=9\r\n",
      "[Version]\r\nGameVersion=\"\"\r\n",
      "[Version]\nGameVersion=1\x1A\n",
  };
  std::vector<std::string> texts(std::begin(inis), std::end(inis));
  texts.push_back("[Version]\r\nGameVersion=" + std::string(300, '9') + "\r\n");
  int index = 0;
  for (const std::string& ini : texts) {
    // A new file each time: the profile API may cache a file it has read.
    std::string path = JoinPath(root, "ini" + std::to_string(index++) + ".ini");
    WriteBytes(path, ini);
    std::string ansiPath;
    ASSERT_TRUE(Utf8ToGbk(path, &ansiPath));
    char buffer[260] = {};
    GetPrivateProfileStringA("Version", "GameVersion", "", buffer, sizeof buffer, ansiPath.c_str());
    std::string mine;
    ReadProfileString(ini, "Version", "GameVersion", sizeof buffer, &mine);
    EXPECT_EQ(mine, buffer) << ini;
    RemoveFile(path);
  }
  RemoveFile(JoinPath(root, u8"in/data/same.dat"));
  RemoveFile(JoinPath(root, u8"in/数据.dll"));
  RemoveFile(JoinPath(game, "SAME.DAT"));
  RemoveFile(JoinPath(game, "Config/Client.ini"));
  RemoveFile(updater);
}

// mkpatch.exe's diff of a game whose paths are Chinese: the descriptors hold
// the paths in code page 936, extract puts each file where the updater's ANSI
// calls find it, and the dry run finds the installed files by those names.
TEST(MkpatchWine, DiffRoundTripsChinesePaths) {
  const std::string root = TempDirectory() + "_diff";
  RemoveAll(root);
  const std::string old = JoinPath(root, "old"), now = JoinPath(root, "new");
  for (const std::string& directory :
       {JoinPath(old, u8"数据"), JoinPath(now, u8"数据"), JoinPath(now, u8"地图")}) {
    ASSERT_TRUE(MakeDirectories(directory));
  }
  std::string program;
  for (int i = 0; i < 3000; ++i) program += "code " + std::to_string(i * 7919 % 1000) + ";";
  std::string next = program;
  next.replace(100, 7, "CHANGED");
  WriteBytes(JoinPath(old, u8"游戏.exe"), program);
  WriteBytes(JoinPath(now, u8"游戏.exe"), next);
  WriteBytes(JoinPath(old, u8"数据/表.txt"), "old table");
  WriteBytes(JoinPath(now, u8"数据/表.txt"), "the new table, longer");
  WriteBytes(JoinPath(now, u8"地图/新.map"), "a new map");
  WriteBytes(JoinPath(old, u8"旧.dll"), "old library");
  WriteBytes(JoinPath(root, "stub.exe"), "MZ stub");
  const std::string patch = JoinPath(root, u8"补丁.exe");
  std::string output;
  ASSERT_EQ(RunTool({"diff", "-o", patch, "--stub", JoinPath(root, "stub.exe"), "--base", "1.0.0.0",
                     "--target", "1.0.0.1", old, now},
                    &output),
            0)
      << output;
  ASSERT_EQ(RunTool({"list", patch, "--json"}, &output), 0) << output;
  EXPECT_NE(output.find(u8"\"destination\":\"数据\\\\表.txt\""), std::string::npos) << output;
  EXPECT_NE(output.find(u8"\"coding\":\"delta\""), std::string::npos) << output;
  ASSERT_EQ(RunTool({"verify", patch}, &output), 0) << output;

  const std::string extracted = JoinPath(root, "x");
  ASSERT_EQ(RunTool({"extract", patch, extracted, "--base-dir", old}, &output), 0) << output;
  EXPECT_NE(output.find(u8"remove 旧.dll"), std::string::npos) << output;
  EXPECT_EQ(ReadThroughAnsi(extracted + u8"\\游戏.exe"), next);
  EXPECT_EQ(ReadThroughAnsi(extracted + u8"\\数据\\表.txt"), "the new table, longer");
  EXPECT_EQ(ReadThroughAnsi(extracted + u8"\\地图\\新.map"), "a new map");

  // The old build installed: everything applies.
  ASSERT_TRUE(MakeDirectories(JoinPath(old, "Config")));
  WriteBytes(JoinPath(old, "Config/Client.ini"), "[Version]\r\nGameVersion=1.0.0.0\r\n");
  ASSERT_EQ(RunTool({"check", patch, old, "--json"}, &output), 0) << output;
  EXPECT_NE(output.find(u8"\"name\":\"游戏.exe\",\"install\":\"file\",\"kind\":\"file\","
                        u8"\"coding\":\"delta\",\"destination\":\"游戏.exe\",\"action\":\"patch\""),
            std::string::npos)
      << output;
  EXPECT_NE(output.find(u8"\"destination\":\"旧.dll\",\"action\":\"remove\""), std::string::npos)
      << output;
  RemoveAll(root);
}
