// The small checks the dialog makes while it starts: another updater, the
// installed game's path, the chosen directory, the window title.
#include <windows.h>

#include <cstring>
#include <vector>

#include "update/base/bounded_format.h"
#include "update/base/gbk_text.h"
#include "update/files/win32_handle.h"
#include "update/session/host_hooks.h"
#include "update/session/update_session.h"

namespace {

const char kInstallKey[] = "SOFTWARE\\hexlane\\Orvenna\\Setup";
const char kInstallValue[] = "InstallPath";
const char kTitlePrefix[] = "Orvenna更新补丁(";
const char kTitleSuffix[] = ")，双击目录名可更换更新目录";
// The longest path Windows can give for a module. The title only needs the
// file's name, which a path of 260 bytes or more still has.
constexpr uint32_t kLongestModulePath = 32768;

bool PathExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// Length of the longest start of `text` that is at most `limit` bytes and
// does not end inside a double-byte character.
size_t FittingLength(const char* text, size_t limit) {
  const char* end = text;
  for (const char* next = NextChar(end); next != end; next = NextChar(end)) {
    if (static_cast<size_t>(next - text) > limit) break;
    end = next;
  }
  return static_cast<size_t>(end - text);
}

}  // namespace

int UpdateSession::IsAnotherInstanceRunning() {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, UPDATER_INSTANCE_NAME);
  if (mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return 1;
  }
  // The handle of the mutex we created stays open on purpose: holding it keeps
  // the name taken until this process ends.
  return 0;
}

int UpdateSession::ReadInstallPath() {
  std::memset(gameDir, 0, sizeof gameDir);
  UniqueRegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) {
    return 0;
  }
  DWORD size = sizeof gameDir;
  LONG status = RegQueryValueExA(key.Get(), kInstallValue, nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(gameDir), &size);
  // A value that filled the whole field without a terminator, or did not fit
  // at all, cannot be a usable path: leave no fragment of it behind.
  if (status != ERROR_SUCCESS || gameDir[UPDATE_PATH_SIZE - 1] != '\0') {
    std::memset(gameDir, 0, sizeof gameDir);
    return 0;
  }
  return PathExists(gameDir) ? 1 : 0;
}

int UpdateSession::IsGameDirValid() {
  size_t length = strnlen(gameDir, UPDATE_PATH_SIZE);
  if (length == UPDATE_PATH_SIZE) return 0;
  if (length == 0) return 0;
  // A bare drive root such as C:\ is never a game directory.
  if (length <= 3) return 0;
  return PathExists(gameDir) ? 1 : 0;
}

int UpdateSession::FormatWindowTitle(char (&title)[UPDATE_PATH_SIZE]) {
  // A cut path would end in the middle of a folder's name; with none at all
  // the brackets stay empty.
  std::vector<char> path(kLongestModulePath, '\0');
  char* ownPath = path.data();
  uint32_t length = GetOwnPath(ownPath, kLongestModulePath);
  if (length == 0 || length >= kLongestModulePath) ownPath[0] = '\0';
  ownPath[kLongestModulePath - 1] = '\0';

  const char* separator = FindLastChar(ownPath, '\\');
  char* name = separator != nullptr ? ownPath + (separator - ownPath) + 1 : ownPath;
  const char* dot = FindLastChar(name, '.');
  if (dot != nullptr) name[dot - name] = '\0';

  // An over-long name is shortened so the fixed text around it stays whole.
  const size_t room = UPDATE_PATH_SIZE - 1 - (sizeof kTitlePrefix - 1) - (sizeof kTitleSuffix - 1);
  name[FittingLength(name, room)] = '\0';
  FormatFitted(title, UPDATE_PATH_SIZE, "%s%s%s", kTitlePrefix, name, kTitleSuffix);
  return 1;
}
