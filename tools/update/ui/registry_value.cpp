#include "update/ui/registry_value.h"

#include <cstring>

#include "update/base/gbk_text.h"
#include "update/files/win32_handle.h"

namespace {

constexpr const char* kUninstallKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\《Orvenna》正式公测版客户端程序";

}  // namespace

LONG ReadRegistryValue(HKEY root, const char* subKey, const char* valueName, void* buffer,
                       DWORD* size, DWORD* type) {
  UniqueRegKey key;
  LONG status = RegOpenKeyExA(root, subKey, 0, KEY_QUERY_VALUE, key.Receive());
  if (status != ERROR_SUCCESS) return status;
  return RegQueryValueExA(key.Get(), valueName, nullptr, type, static_cast<BYTE*>(buffer), size);
}

void ReadUninstallDir(char (&dir)[UNINSTALL_DIR_SIZE]) {
  std::memset(dir, 0, sizeof(dir));
  DWORD size = sizeof(dir);
  DWORD type = 0;
  LONG status =
      ReadRegistryValue(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", dir, &size, &type);
  // A value too long for the buffer leaves it in an unknown state, and a
  // binary value may fill it without a terminator: neither names a folder.
  if (status != ERROR_SUCCESS || std::memchr(dir, '\0', sizeof(dir)) == nullptr) {
    std::memset(dir, 0, sizeof(dir));
    return;
  }
  // The trail byte of a GBK character can be 0x5C; only a real backslash counts.
  const char* lastBackslash = FindLastChar(dir, '\\');
  dir[lastBackslash ? lastBackslash - dir : 0] = '\0';
}
