#include "test_files.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "file_tree.h"
#include "md5.h"
#include "payload.h"

namespace {

constexpr const char* kUninstallKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\《Orvenna》正式公测版客户端程序";

// Writes the entries back to back from `firstOffset`, then the trailer, to
// `out` piece by piece: entries of many megabytes are never held whole.
void WritePayload(std::ostream& out, const std::vector<PayloadFile>& files, uint32_t firstOffset,
                  const std::string& base, const std::string& target, int sizeSkew) {
  uint64_t written = 0;
  for (const PayloadFile& file : files) {
    PatchEntryHeader header = {};
    std::snprintf(header.name, sizeof(header.name), "%s", file.name.c_str());
    header.size = static_cast<uint32_t>(file.data.size() * file.repeat);
    unsigned char encoded[PATCH_ENTRY_HEADER_SIZE];
    EncodeEntryHeader(header, encoded);
    out.write(reinterpret_cast<char*>(encoded), sizeof(encoded));
    for (size_t i = 0; i < file.repeat; ++i) {
      out.write(file.data.data(), static_cast<std::streamsize>(file.data.size()));
    }
    written += sizeof(encoded) + uint64_t(header.size);
  }
  PatchTrailer trailer = {};
  trailer.magic = PATCH_TRAILER_MAGIC;
  trailer.firstEntryOffset = firstOffset;
  trailer.entryCount = static_cast<uint32_t>(files.size());
  trailer.totalFileSize =
      static_cast<uint32_t>(firstOffset + written + PATCH_TRAILER_SIZE + sizeSkew);
  std::snprintf(trailer.baseVersion, sizeof(trailer.baseVersion), "%s", base.c_str());
  std::snprintf(trailer.targetVersion, sizeof(trailer.targetVersion), "%s", target.c_str());
  unsigned char encoded[PATCH_TRAILER_SIZE];
  EncodeTrailer(trailer, encoded);
  out.write(reinterpret_cast<char*>(encoded), sizeof(encoded));
}

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

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string IniValue(const std::string& path, const char* section, const char* key) {
  char value[260] = {};
  GetPrivateProfileStringA(section, key, "", value, sizeof(value), path.c_str());
  return value;
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

bool MakeUpdaterFile(const std::string& path, const PatchSpec& layout) {
  std::string program = ReadWholeFile(BuiltUpdateExe());
  if (program.empty()) return false;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(program.data(), static_cast<std::streamsize>(program.size()));
  WritePayload(out, layout.files, static_cast<uint32_t>(program.size()), layout.baseVersion,
               layout.targetVersion, layout.totalSizeSkew);
  return static_cast<bool>(out);
}

UpdateScenario MakeScenario(const std::string& name, const PatchSpec& layout,
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

PatchSpec ReadmePatch() {
  PatchSpec layout;
  layout.files = {{"readme.txt", "new readme"}};
  return layout;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

LauncherHold::LauncherHold(const std::string& gameDir) {
  const std::string name = "update_test_launch_hold_" + std::to_string(GetCurrentProcessId());
  event_.Reset(CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
  WriteWholeFile(gameDir + "\\launch_hold.txt", name);
}

std::string BarePackage(const std::vector<PayloadFile>& files) {
  std::ostringstream out;
  WritePayload(out, files, 0, "1.4.1.33960", "1.4.1.34242", 0);
  return out.str();
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
  if (CreateProcessA(path.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     nullptr, &startup, &info)) {
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
