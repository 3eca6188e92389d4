// Start-up checks: the single-instance mutex across real processes, the
// install path from the registry, directory validation, the window title and
// the game directory's bounds.
#include <cstring>

#include "engine_test_support.h"
#include "update/files/win32_handle.h"
#include "update/session/host_hooks.h"

namespace {

const char kSetupKey[] = "SOFTWARE\\hexlane\\Orvenna\\Setup";

DWORD RunProbe(const std::string& arguments) {
  std::string commandLine = "\"" + WorkDir() + "\\instance_probe.exe\" " + arguments;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    ADD_FAILURE() << "cannot start " << commandLine;
    return 999;
  }
  UniqueHandle thread(process.hThread);
  UniqueHandle child(process.hProcess);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.Get(), 60000));
  DWORD code = 999;
  GetExitCodeProcess(child.Get(), &code);
  return code;
}

// Writes the install-path value (or none) under the game's setup key; the
// key is removed again when the object goes.
class SetupKey {
 public:
  SetupKey() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSetupKey); }
  ~SetupKey() {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSetupKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\hexlane\\Orvenna");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\hexlane");
  }
  void Set(DWORD type, const std::string& bytes) {
    UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSetupKey, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.Get(), "InstallPath", 0, type,
                                            reinterpret_cast<const BYTE*>(bytes.data()),
                                            static_cast<DWORD>(bytes.size())));
  }
};

std::string Title(const char* ownPath) {
  static std::string path;
  path = ownPath;
  SetOwnPathProvider([](char* buffer, uint32_t size) -> uint32_t {
    std::snprintf(buffer, size, "%s", path.c_str());
    return static_cast<uint32_t>(path.size());
  });
  char title[UPDATE_PATH_SIZE];
  std::memset(title, 'x', sizeof title);
  EXPECT_EQ(1, g_UpdateSession.FormatWindowTitle(title));
  return std::string(title, strnlen(title, sizeof title));
}

using StartUpChecksTest = EngineTest;

TEST_F(StartUpChecksTest, SecondCopyFindsTheMutexUntilTheFirstEnds) {
  EXPECT_EQ(0u, RunProbe("probe")) << "nobody holds the mutex yet";

  UniqueHandle ready(CreateEventA(nullptr, TRUE, FALSE, "engine_tests_probe_ready"));
  UniqueHandle release(CreateEventA(nullptr, TRUE, FALSE, "engine_tests_probe_release"));
  std::string commandLine = "\"" + WorkDir() +
                            "\\instance_probe.exe\" hold engine_tests_probe_ready "
                            "engine_tests_probe_release";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process));
  UniqueHandle thread(process.hThread);
  UniqueHandle holder(process.hProcess);
  HANDLE waits[2] = {ready.Get(), holder.Get()};
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, 60000))
      << "holder did not start";

  EXPECT_EQ(1u, RunProbe("probe")) << "the first copy is running";

  SetEvent(release.Get());
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(holder.Get(), 60000));
  DWORD holderCode = 999;
  GetExitCodeProcess(holder.Get(), &holderCode);
  EXPECT_EQ(0u, holderCode);
  EXPECT_EQ(0u, RunProbe("probe")) << "the name is free once the first copy ended";
}

TEST_F(StartUpChecksTest, InstallPathFromTheRegistry) {
  SetupKey key;
  std::memset(g_UpdateSession.gameDir, 'z', UPDATE_PATH_SIZE);
  EXPECT_EQ(0, g_UpdateSession.ReadInstallPath()) << "no key";
  EXPECT_STREQ("", g_UpdateSession.gameDir);

  key.Set(REG_SZ, gameDir_ + std::string(1, '\0'));
  EXPECT_EQ(1, g_UpdateSession.ReadInstallPath());
  EXPECT_EQ(gameDir_, g_UpdateSession.gameDir);

  std::string missing = gameDir_ + "\\missing";
  key.Set(REG_SZ, missing + std::string(1, '\0'));
  EXPECT_EQ(0, g_UpdateSession.ReadInstallPath());
  EXPECT_EQ(missing, g_UpdateSession.gameDir) << "the value read stays";

  // 260 bytes without a terminator, then a value too long for the field:
  // neither may leave an unterminated or partial path behind.
  key.Set(REG_BINARY, std::string(UPDATE_PATH_SIZE, 'C'));
  EXPECT_EQ(0, g_UpdateSession.ReadInstallPath());
  EXPECT_STREQ("", g_UpdateSession.gameDir);
  key.Set(REG_SZ, std::string(300, 'C') + std::string(1, '\0'));
  EXPECT_EQ(0, g_UpdateSession.ReadInstallPath());
  EXPECT_STREQ("", g_UpdateSession.gameDir);
}

TEST_F(StartUpChecksTest, GameDirectoryValidation) {
  struct Case {
    std::string dir;
    int valid;
  } cases[] = {
      {"C:\\", 0},
      {"", 0},
      {"C:", 0},
      {gameDir_, 1},
      {gameDir_ + "\\Config\\Client.ini", 1},  // an existing plain file passes
      {gameDir_ + "\\nothing", 0},
  };
  for (const Case& c : cases) {
    g_UpdateSession.SetGameDir(c.dir.c_str());
    EXPECT_EQ(c.valid, g_UpdateSession.IsGameDirValid()) << "'" << c.dir << "'";
  }
  std::memset(g_UpdateSession.gameDir, 'C', UPDATE_PATH_SIZE);
  EXPECT_EQ(0, g_UpdateSession.IsGameDirValid()) << "no terminator in the field";
}

TEST_F(StartUpChecksTest, WindowTitleFromTheProgramName) {
  EXPECT_EQ("Orvenna更新补丁(Update)，双击目录名可更换更新目录", Title("D:\\patch\\Update.exe"));
  EXPECT_EQ("Orvenna更新补丁(patch.new)，双击目录名可更换更新目录",
            Title("D:\\patch\\patch.new.exe"));
  EXPECT_EQ("Orvenna更新补丁(Update)，双击目录名可更换更新目录", Title("D:\\patch\\Update"));
  EXPECT_EQ("Orvenna更新补丁(Update)，双击目录名可更换更新目录", Title("Update.exe"));
  // A name whose double-byte character ends in 0x5C is not split at it.
  EXPECT_EQ("Orvenna更新补丁(礬)，双击目录名可更换更新目录", Title("D:\\x\\礬.exe"));
  EXPECT_EQ("Orvenna更新补丁(a.礬)，双击目录名可更换更新目录", Title("D:\\x.y\\a.礬.exe"));

  // An over-long name is cut, the fixed text stays whole and within 260 bytes.
  std::string longName = "D:\\" + std::string(240, 'n') + ".exe";
  std::string title = Title(longName.c_str());
  EXPECT_LT(title.size(), UPDATE_PATH_SIZE);
  EXPECT_EQ(0u, title.find("Orvenna更新补丁(nnnn"));
  const std::string suffix = ")，双击目录名可更换更新目录";
  EXPECT_EQ(title.size() - suffix.size(), title.rfind(suffix));

  // A path of 260 bytes or more still has its file's name.
  std::string deep = "D:\\" + std::string(300, 'd') + "\\Update.exe";
  EXPECT_EQ("Orvenna更新补丁(Update)，双击目录名可更换更新目录", Title(deep.c_str()));
}

TEST_F(StartUpChecksTest, SetGameDirKeepsAtMost259Characters) {
  std::string fits(259, 'a');
  EXPECT_EQ(1, g_UpdateSession.SetGameDir(fits.c_str()));
  EXPECT_EQ(fits, g_UpdateSession.GetGameDir());

  std::string tooLong(300, 'b');
  EXPECT_EQ(0, g_UpdateSession.SetGameDir(tooLong.c_str()));
  EXPECT_EQ(std::string(259, 'b'), g_UpdateSession.GetGameDir());

  EXPECT_EQ(g_UpdateSession.gameDir, g_UpdateSession.GetGameDir()) << "the field itself";
  g_UpdateSession.GetGameDir()[0] = 'Q';
  EXPECT_EQ('Q', g_UpdateSession.gameDir[0]);
}

TEST_F(StartUpChecksTest, VersionGate) {
  g_UpdateSession.baseVersion = "1.4.1.33960";
  g_UpdateSession.targetVersion = "1.4.1.34242";
  struct Case {
    const char* installed;
    int accepted;
  } cases[] = {
      {"1.4.1.33960", 1}, {"1.4.1.34000", 1},
      {"1.4.1.34242", 1}, {"1.4.1.33959", 0},
      {"1.4.1", 0},       {"1.4.2.0", 0},
      {"1.4.1.34243", 0}, {"", 0},
      {"1.4", 0},         {"1.4.1.34000 trailing", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.accepted, g_UpdateSession.CheckVersion(c.installed)) << c.installed;
  }
  // Fields are not compared one by one: a fourth number of 1000 spills over.
  g_UpdateSession.baseVersion = "1.4.2.0";
  g_UpdateSession.targetVersion = "1.4.2.0";
  EXPECT_EQ(1, g_UpdateSession.CheckVersion("1.4.1.1000"));
}

}  // namespace
