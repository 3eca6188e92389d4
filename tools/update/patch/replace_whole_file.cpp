#include "replace_whole_file.h"

#include <windows.h>

#include "win32_handle.h"

namespace {

// The copy must be on disk before the rename makes it the game's file.
bool FlushToDisk(const char* path) {
  UniqueHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  return file.IsValid() && FlushFileBuffers(file.Get()) != FALSE && file.Close();
}

}  // namespace

bool ReplaceWholeFile(const char* source, const char* destination, const char* directory) {
  // A plain copy refuses a read-only or hidden target; a rename would not
  // everywhere, so the refusal is made here.
  DWORD existing = GetFileAttributesA(destination);
  if (existing != INVALID_FILE_ATTRIBUTES &&
      (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  char temporary[MAX_PATH] = {};
  if (GetTempFileNameA(directory, "upd", 0, temporary) == 0) return false;
  bool replaced = CopyFileA(source, temporary, FALSE) != FALSE && FlushToDisk(temporary) &&
                  MoveFileExA(temporary, destination,
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  if (!replaced) {
    DWORD error = GetLastError();
    DeleteFileA(temporary);
    SetLastError(error);
  }
  return replaced;
}
