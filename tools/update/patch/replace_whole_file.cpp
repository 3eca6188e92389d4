#include "replace_whole_file.h"

#include <windows.h>

#include "bounded_text.h"
#include "file_retry.h"
#include "win32_handle.h"

const char REPLACEMENT_SUFFIX[] = ".upd-new";

namespace {

// The copy must be on disk before the rename makes it the game's file.
bool FlushToDisk(const char* path) {
  UniqueHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file.IsValid()) return false;
  if (!FlushFileBuffers(file.Get())) {
    const DWORD error = GetLastError();
    file.Close();
    SetLastError(error);
    return false;
  }
  return file.Close();
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
    RetryingSetFileAttributes(temporary, FILE_ATTRIBUTE_NORMAL);
  }
  // One budget for the file: a scanner that opens the fresh copy, or a
  // program that holds the game's file, is waited for across all three steps.
  FileRetry retry(destination, temporary);
  bool replaced = retry.Run([&] { return CopyFileA(source, temporary, FALSE) != FALSE; }) &&
                  retry.Run([&] { return FlushToDisk(temporary); }) && retry.Run([&] {
                    return MoveFileExA(temporary, destination,
                                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
                  });
  if (!replaced) {
    DWORD error = GetLastError();
    RetryingDeleteFile(temporary);
    SetLastError(error);
  }
  return replaced;
}
