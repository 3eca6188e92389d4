// The start-up decisions of the dialog: the command-line directory, the
// uninstall entry's folder, the names that count as the running game.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_files.h"
#include "update/ui/command_line.h"
#include "update/ui/game_process.h"
#include "update/ui/registry_value.h"

namespace {

struct CommandLineResult {
  CommandLineDir kind;
  std::string dir;
};

CommandLineResult ReadDir(const std::string& commandLine) {
  char dir[260];
  std::memset(dir, 'x', sizeof(dir));
  CommandLineDir kind = ReadCommandLineDir(commandLine.c_str(), dir, sizeof(dir));
  return {kind, std::string(dir, strnlen(dir, sizeof(dir)))};
}

TEST(CommandLineDir, FirstArgumentAfterTheProgramIsTheDirectory) {
  EXPECT_EQ(ReadDir("\"C:\\p\\Update.exe\"").kind, CommandLineDir::None);
  EXPECT_EQ(ReadDir("").kind, CommandLineDir::None);

  CommandLineResult quoted = ReadDir("\"C:\\p\\Update.exe\" \"D:\\Games\\My Client\" second");
  EXPECT_EQ(quoted.kind, CommandLineDir::Stored);
  EXPECT_EQ(quoted.dir, "D:\\Games\\My Client");

  CommandLineResult bare = ReadDir("C:\\p\\Update.exe D:\\Games\\Client");
  EXPECT_EQ(bare.kind, CommandLineDir::Stored);
  EXPECT_EQ(bare.dir, "D:\\Games\\Client");

  CommandLineResult empty = ReadDir("\"C:\\p\\Update.exe\" \"\"");
  EXPECT_EQ(empty.kind, CommandLineDir::Stored);
  EXPECT_EQ(empty.dir, "");

  CommandLineResult chinese = ReadDir("\"C:\\p\\Update.exe\" \"D:\\游戏\\奥文纳\"");
  EXPECT_EQ(chinese.kind, CommandLineDir::Stored);
  EXPECT_EQ(chinese.dir, "D:\\游戏\\奥文纳");
}

TEST(CommandLineDir, DirectoryTooLongIsRefusedNotCut) {
  char field[300];
  std::memset(field, 'x', sizeof(field));
  std::string longest(259, 'a');
  ASSERT_EQ(ReadCommandLineDir(("U.exe " + longest).c_str(), field, 260), CommandLineDir::Stored);
  EXPECT_EQ(std::string(field), longest);

  std::memset(field, 'x', sizeof(field));
  std::string tooLong(260, 'a');
  EXPECT_EQ(ReadCommandLineDir(("U.exe " + tooLong).c_str(), field, 260), CommandLineDir::TooLong);
  EXPECT_EQ(field[0], '\0');
  for (size_t i = 260; i < sizeof(field); ++i) ASSERT_EQ(field[i], 'x') << "written past at " << i;

  // 130 double-byte characters need 261 bytes with the terminator.
  std::string wide;
  for (int i = 0; i < 130; ++i) wide += "游";
  EXPECT_EQ(ReadCommandLineDir(("U.exe " + wide).c_str(), field, 260), CommandLineDir::TooLong);
}

std::string UninstallDir() {
  char dir[UNINSTALL_DIR_SIZE];
  ReadUninstallDir(dir);
  return std::string(dir, strnlen(dir, sizeof(dir)));
}

TEST(UninstallDir, FolderBeforeTheLastBackslash) {
  {
    UninstallEntry entry("C:\\Games\\Client\\uninst.exe");
    EXPECT_EQ(UninstallDir(), "C:\\Games\\Client");
  }
  {
    UninstallEntry entry("\"C:\\Games\\Client\\uninst.exe\"");
    EXPECT_EQ(UninstallDir(), "\"C:\\Games\\Client");
  }
  {
    UninstallEntry entry("uninst.exe");
    EXPECT_EQ(UninstallDir(), "");
  }
  {
    UninstallEntry missing(nullptr);
    EXPECT_EQ(UninstallDir(), "");
  }
  {
    // 0x95 0x5C is one double-byte character whose second byte is 0x5C.
    UninstallEntry entry("C:\\Games\\\x95\x5Cuninst.exe");
    EXPECT_EQ(UninstallDir(), "C:\\Games");
  }
}

TEST(UninstallDir, ValuesThatDoNotFitGiveNoFolder) {
  std::string fits(248, 'a');
  fits += "\\uninst.exe";  // 259 characters: with the terminator exactly 260 bytes
  {
    UninstallEntry entry(fits.c_str());
    EXPECT_EQ(UninstallDir(), std::string(248, 'a'));
  }
  std::string tooLong = std::string(250, 'a') + "\\" + std::string(20, 'b');
  {
    UninstallEntry entry(tooLong.c_str());
    EXPECT_EQ(UninstallDir(), "");
  }
  std::string unterminated(259, 'c');
  unterminated += '\\';
  {
    UninstallEntry entry(unterminated.data(), 260, REG_BINARY);
    EXPECT_EQ(UninstallDir(), "");
  }
}

TEST(ReadRegistryValueStatus, ReportsMissingKeyAndShortBuffer) {
  char buffer[8] = {};
  DWORD size = sizeof(buffer);
  DWORD type = 0;
  EXPECT_EQ(ReadRegistryValue(HKEY_LOCAL_MACHINE, "Software\\NoSuchVendor\\NoSuchKey", "v", buffer,
                              &size, &type),
            ERROR_FILE_NOT_FOUND);
  UninstallEntry entry("C:\\a\\b\\c\\uninst.exe");
  size = sizeof(buffer);
  EXPECT_EQ(ReadRegistryValue(HKEY_LOCAL_MACHINE,
                              "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                              "《Orvenna》正式公测版客户端程序",
                              "UninstallString", buffer, &size, &type),
            ERROR_MORE_DATA);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
}

TEST(GameProcessName, OnlyTheExactNamesCount) {
  EXPECT_TRUE(IsGameProcessName("Game.exe"));
  EXPECT_TRUE(IsGameProcessName("Game_08d.exe"));
  EXPECT_FALSE(IsGameProcessName("game.exe"));
  EXPECT_FALSE(IsGameProcessName("GAME.EXE"));
  EXPECT_FALSE(IsGameProcessName("Game.exe.bak"));
  EXPECT_FALSE(IsGameProcessName("Game_08D.exe"));
  EXPECT_FALSE(IsGameProcessName(""));
}

}  // namespace
