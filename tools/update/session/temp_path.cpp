#include "update/session/temp_path.h"

#include <cstring>

#include "update/base/bounded_format.h"

TempPathResult ComposeTempPath(const char* name, char (&path)[UPDATE_PATH_SIZE], DWORD* detail) {
  char tempDir[UPDATE_PATH_SIZE] = {};
  SetLastError(0);
  DWORD length = GetTempPathA(UPDATE_PATH_SIZE - 1, tempDir);
  // Going on without the directory would write to the root of the current drive.
  if (length == 0 || length >= UPDATE_PATH_SIZE - 1) {
    // Too long is no error to the system: its last error would read 0.
    *detail = length == 0 ? GetLastError() : length;
    return TempPathResult::NoTempDir;
  }
  if (!FormatFitted(path, UPDATE_PATH_SIZE, "%s\\%s", tempDir, name)) {
    *detail = static_cast<DWORD>(std::strlen(tempDir) + 1 + std::strlen(name));
    return TempPathResult::TooLong;
  }
  return TempPathResult::Ok;
}
