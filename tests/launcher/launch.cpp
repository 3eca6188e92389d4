// A stand-in for the game's launcher, for the tests and the demo. See README.md
// in this folder for what it checks, records and does.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "update/base/bounded_format.h"
#include "update/files/create_parent_dirs.h"
#include "update/files/win32_handle.h"
#include "update/format/payload_table.h"

namespace {

const char kRecordName[] = "launch_received.txt";
const char kExitCodeName[] = "launch_exit_code.txt";
const char kDelayName[] = "launch_delay_ms.txt";
const char kHoldName[] = "launch_hold.txt";
const char kStartedName[] = "launch_started.txt";
// A test that died must not leave the stand-in holding for ever.
const DWORD kLongestHoldMs = 10 * 60 * 1000;
const char kExitCodeVariable[] = "UPDATE_LAUNCH_EXIT_CODE";
const size_t kLaunchTextSize = 30;

struct Request {
  std::string args;  // the command line after the program's own name, verbatim
  std::string package;
  std::string gameDir;
  bool argsOk = false;
};

// Expected: " x <package> -o"<gameDir>" -r " after the program's name.
Request ParseCommandLine(const char* commandLine) {
  Request request;
  const char* p = commandLine;
  if (*p == '"') {
    p = std::strchr(p + 1, '"');
    p = p != nullptr ? p + 1 : commandLine + std::strlen(commandLine);
  } else {
    while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
  }
  request.args = p;
  while (*p == ' ') ++p;
  if (std::strncmp(p, "x ", 2) != 0) return request;
  p += 2;
  const char* packageEnd = std::strstr(p, " -o\"");
  if (packageEnd == nullptr) return request;
  request.package.assign(p, packageEnd);
  const char* dirStart = packageEnd + 4;
  const char* dirEnd = std::strstr(dirStart, "\" -r");
  if (dirEnd == nullptr) return request;
  request.gameDir.assign(dirStart, dirEnd);
  std::string tail = dirEnd + 4;
  request.argsOk = !request.package.empty() && !request.gameDir.empty() &&
                   tail.find_first_not_of(' ') == std::string::npos;
  return request;
}

std::string DirectoryOf(const char* path) {
  const char* slash = std::strrchr(path, '\\');
  return slash != nullptr ? std::string(path, slash) : std::string(".");
}

bool ReadWholeFile(const std::string& path, std::vector<unsigned char>* bytes) {
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (file.Get() == nullptr) return false;
  unsigned char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.Get())) > 0) {
    bytes->insert(bytes->end(), chunk, chunk + got);
  }
  return true;
}

// "launch.txt" beside this program: the handle in decimal, then zero bytes,
// exactly 30 bytes in all. Returns the handle text, and whether the layout held.
bool ReadLaunchText(const std::string& path, std::string* handle) {
  std::vector<unsigned char> bytes;
  if (!ReadWholeFile(path, &bytes) || bytes.size() != kLaunchTextSize) return false;
  size_t digits = 0;
  if (bytes[0] == '-') ++digits;
  while (digits < bytes.size() && bytes[digits] >= '0' && bytes[digits] <= '9') ++digits;
  handle->assign(bytes.begin(), bytes.begin() + digits);
  if (handle->empty() || *handle == "-") return false;
  for (size_t i = digits; i < bytes.size(); ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

// A bare payload (trailer with firstEntryOffset 0) is unpacked into the game
// directory; returns the number of files written, -1 when it is something else.
int ApplyPackage(const std::string& packagePath, const std::string& gameDir) {
  std::vector<unsigned char> bytes;
  if (!ReadWholeFile(packagePath, &bytes)) return -1;
  MemoryByteSource source(bytes.data(), bytes.size());
  PatchTrailer trailer;
  uint32_t got = 0;
  if (!ReadTrailer(source, &trailer, &got) || !IsTrailerSound(trailer, bytes.size()) ||
      trailer.firstEntryOffset != 0) {
    return -1;
  }
  PayloadTable table = ReadPayloadTable(source, trailer);
  if (table.error != PayloadError::None) return -1;
  int written = 0;
  for (const PayloadEntry& entry : table.entries) {
    char target[MAX_PATH];
    if (!FormatFitted(target, sizeof target, "%s\\%s", gameDir.c_str(), entry.name.c_str()))
      continue;
    CreateParentDirs(target);
    UniqueFile out(std::fopen(target, "wb"));
    if (out.Get() == nullptr) continue;
    bool ok = entry.size == 0 ||
              std::fwrite(bytes.data() + entry.dataOffset, 1, entry.size, out.Get()) == entry.size;
    if (out.Close() && ok) ++written;
  }
  return written;
}

int ReadNumberFile(const std::string& path, int fallback) {
  std::vector<unsigned char> bytes;
  if (!ReadWholeFile(path, &bytes)) return fallback;
  bytes.push_back(0);
  return std::atoi(reinterpret_cast<const char*>(bytes.data()));
}

int ChosenExitCode(const std::string& gameDir) {
  const char* variable = std::getenv(kExitCodeVariable);
  int fallback = variable != nullptr ? std::atoi(variable) : 0;
  return ReadNumberFile(gameDir + "\\" + kExitCodeName, fallback);
}

// When the game directory holds launch_hold.txt, says so in launch_started.txt
// and waits until the test sets the event the hold file names: tests act at a
// known moment of the hand-off, for as long as they need, without guessing.
void WaitForRelease(const std::string& gameDir) {
  std::vector<unsigned char> name;
  if (!ReadWholeFile(gameDir + "\\" + kHoldName, &name)) return;
  UniqueFile started(std::fopen((gameDir + "\\" + kStartedName).c_str(), "wb"));
  started.Close();
  name.push_back(0);
  UniqueHandle release(OpenEventA(SYNCHRONIZE, FALSE, reinterpret_cast<const char*>(name.data())));
  if (release.IsValid()) WaitForSingleObject(release.Get(), kLongestHoldMs);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char ownPath[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, ownPath, MAX_PATH - 1);
  const std::string ownDir = DirectoryOf(ownPath);

  Request request = ParseCommandLine(GetCommandLineA());
  std::string handle;
  bool launchTextOk = ReadLaunchText(ownDir + "\\launch.txt", &handle);
  // Without a game directory the record goes beside the program.
  const std::string recordDir = request.argsOk ? request.gameDir : ownDir;

  Sleep(static_cast<DWORD>(ReadNumberFile(recordDir + "\\" + kDelayName, 0)));
  WaitForRelease(recordDir);
  int applied = request.argsOk ? ApplyPackage(request.package, request.gameDir) : -1;

  UniqueFile record(std::fopen((recordDir + "\\" + kRecordName).c_str(), "ab"));
  if (record.Get() != nullptr) {
    std::fprintf(record.Get(),
                 "args=%s\r\npackage=%s\r\ngamedir=%s\r\nargs_ok=%d\r\nhandle=%s\r\n"
                 "launch_txt_ok=%d\r\npackage_kind=%s\r\napplied=%d\r\n\r\n",
                 request.args.c_str(), request.package.c_str(), request.gameDir.c_str(),
                 request.argsOk ? 1 : 0, handle.c_str(), launchTextOk ? 1 : 0,
                 applied >= 0 ? "payload" : "other", applied >= 0 ? applied : 0);
  }
  record.Close();
  return ChosenExitCode(recordDir);
}
