#include "test_files.h"

#include <cstdio>
#include <cstring>

#include "update/base/md5.h"

namespace {

constexpr const char* kUninstallKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\《Orvenna》正式公测版客户端程序";

}  // namespace

std::string WindowsPath(const std::string& buildPath) {
  std::string path = buildPath;
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string BuiltUpdateExe() { return WindowsPath(UPDATE_EXE_PATH); }

std::string MakeWorkDir(const std::string& name) {
  char current[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof(current), current);
  std::string root = std::string(current) + "\\gui-work";
  CreateDirectoryA(root.c_str(), nullptr);
  std::string dir = root + "\\" + name;
  RemoveTree(dir);
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

std::string Md5OfFile(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return std::string();
  MD5 digest(file);  // closes the file
  return digest.hex_digest();
}

void MakeGameInstall(const std::string& dir, const std::string& version, bool launcher) {
  CreateDirectoryA(dir.c_str(), nullptr);
  CreateDirectoryA((dir + "\\Config").c_str(), nullptr);
  WritePrivateProfileStringA("Version", "GameVersion", version.c_str(),
                             (dir + "\\Config\\Client.ini").c_str());
  if (launcher) {
    CreateDirectoryA((dir + "\\launch").c_str(), nullptr);
    CopyFileA(WindowsPath(LAUNCH_EXE_PATH).c_str(), (dir + "\\launch\\launch.exe").c_str(), FALSE);
  }
}

bool MakeUpdaterFile(const std::string& path, const PatchLayout& layout) {
  std::string program = ReadWholeFile(BuiltUpdateExe());
  if (program.empty()) return false;
  return WriteUpdaterFile(path, program, layout);
}

UpdateScenario MakeScenario(const std::string& name, const PatchLayout& layout,
                            const std::string& installedVersion, bool launcher,
                            const std::string& updaterName) {
  UpdateScenario scenario;
  scenario.work = MakeWorkDir(name);
  scenario.game = scenario.work + "\\game";
  scenario.updater = scenario.work + "\\" + updaterName;
  MakeGameInstall(scenario.game, installedVersion, launcher);
  MakeUpdaterFile(scenario.updater, layout);
  return scenario;
}

std::string InstalledVersion(const UpdateScenario& scenario) {
  return IniValue(scenario.game + "\\Config\\Client.ini", "Version", "GameVersion");
}

PatchLayout ReadmePatch() {
  PatchLayout layout;
  layout.files = {{"readme.txt", "new readme"}};
  return layout;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

LauncherHold::LauncherHold(const std::string& gameDir) {
  const std::string name = "update_test_launch_hold_" + std::to_string(GetCurrentProcessId());
  event_.Reset(CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
  WriteWholeFile(gameDir + "\\launch_hold.txt", name);
}

namespace {

std::string Variable(const char* name) {
  char value[MAX_PATH] = {};
  GetEnvironmentVariableA(name, value, sizeof(value));
  return value;
}

}  // namespace

ScopedTempDir::ScopedTempDir(const std::string& dir)
    : dir_(dir), oldTmp_(Variable("TMP")), oldTemp_(Variable("TEMP")) {
  RemoveTree(dir_);
  CreateDirectoryA(dir_.c_str(), nullptr);
  SetEnvironmentVariableA("TMP", dir_.c_str());
  SetEnvironmentVariableA("TEMP", dir_.c_str());
}

ScopedTempDir::~ScopedTempDir() {
  SetEnvironmentVariableA("TMP", oldTmp_.c_str());
  SetEnvironmentVariableA("TEMP", oldTemp_.c_str());
}

UninstallEntry::UninstallEntry(const char* uninstallString) {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
  if (!uninstallString) return;
  UniqueRegKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      key.Receive(), nullptr) == ERROR_SUCCESS) {
    RegSetValueExA(key.Get(), "UninstallString", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(uninstallString),
                   static_cast<DWORD>(std::strlen(uninstallString) + 1));
  }
}

UninstallEntry::UninstallEntry(const void* bytes, DWORD size, DWORD type) {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
  UniqueRegKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      key.Receive(), nullptr) == ERROR_SUCCESS) {
    RegSetValueExA(key.Get(), "UninstallString", 0, type, static_cast<const BYTE*>(bytes), size);
  }
}

UninstallEntry::~UninstallEntry() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey); }

NamedProcess::NamedProcess(const std::string& dir, const std::string& exeName) {
  std::string path = dir + "\\" + exeName;
  if (!CopyFileA(WindowsPath(SLEEPER_EXE_PATH).c_str(), path.c_str(), FALSE)) return;
  std::string commandLine = "\"" + path + "\"";
  std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (CreateProcessA(path.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, &info)) {
    CloseHandle(info.hThread);
    process_.Reset(info.hProcess);
  }
}

NamedProcess::~NamedProcess() {
  if (Running()) {
    TerminateProcess(process_.Get(), 0);
    WaitForSingleObject(process_.Get(), 30000);
  }
}

bool NamedProcess::Running() const {
  return process_.IsValid() && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}
