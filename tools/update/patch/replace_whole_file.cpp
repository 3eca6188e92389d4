#include "replace_whole_file.h"

#include <windows.h>

#include "bounded_text.h"
#include "win32_handle.h"

const char REPLACEMENT_SUFFIX[] = ".upd-new";

namespace {

// The copy must be on disk before the rename makes it the game's file.
bool FlushToDisk(const char* path) {
  UniqueHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  return file.IsValid() && FlushFileBuffers(file.Get()) != FALSE && file.Close();
}

}  // namespace

bool ReplaceWholeFile(const char* source, const char* destination) {
  // A plain copy refuses a read-only or hidden target; a rename would not
  // everywhere, so the refusal is made here.
  DWORD existing = GetFileAttributesA(destination);
  if (existing != INVALID_FILE_ATTRIBUTES &&
      (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  char temporary[MAX_PATH] = {};
  if (!FormatFitted(temporary, sizeof temporary, "%s%s", destination, REPLACEMENT_SUFFIX)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  // A copy left by a killed run is ours and is overwritten, whatever its attributes.
  if (GetFileAttributesA(temporary) != INVALID_FILE_ATTRIBUTES) {
    SetFileAttributesA(temporary, FILE_ATTRIBUTE_NORMAL);
  }
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
