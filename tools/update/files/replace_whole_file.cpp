#include "update/files/replace_whole_file.h"

#include "update/base/bounded_format.h"
#include "update/files/win32_handle.h"

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

bool ReplacementPath(const char* destination, char (&replacement)[MAX_PATH]) {
  if (!FormatFitted(replacement, sizeof replacement, "%s%s", destination, REPLACEMENT_SUFFIX)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  return true;
}

bool PrepareReplacement(const char* destination, const char* replacement) {
  DWORD existing = GetFileAttributesA(destination);
  if (existing != INVALID_FILE_ATTRIBUTES &&
      (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (GetFileAttributesA(replacement) != INVALID_FILE_ATTRIBUTES) {
    RetryingSetFileAttributes(replacement, FILE_ATTRIBUTE_NORMAL);
  }
  return true;
}

bool MoveReplacementIntoPlace(FileRetry& retry, const char* replacement, const char* destination) {
  return retry.Run([&] {
    return MoveFileExA(replacement, destination,
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  });
}

bool ReplaceWholeFile(const char* source, const char* destination) {
  char temporary[MAX_PATH] = {};
  if (!ReplacementPath(destination, temporary) || !PrepareReplacement(destination, temporary)) {
    return false;
  }
  // One budget for the file: a scanner that opens the fresh copy, or a
  // program that holds the game's file, is waited for across all three steps.
  FileRetry retry(destination, temporary);
  bool replaced = retry.Run([&] { return CopyFileA(source, temporary, FALSE) != FALSE; }) &&
                  retry.Run([&] { return FlushToDisk(temporary); }) &&
                  MoveReplacementIntoPlace(retry, temporary, destination);
  if (!replaced) {
    DWORD error = GetLastError();
    RetryingDeleteFile(temporary);
    SetLastError(error);
  }
  return replaced;
}
