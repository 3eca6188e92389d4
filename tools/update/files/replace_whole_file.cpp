#include "update/files/replace_whole_file.h"

#include "update/base/bounded_format.h"
#include "update/files/win32_handle.h"

const char REPLACEMENT_SUFFIX[] = ".upd-new";
const char BACKUP_SUFFIX[] = ".upd-old";

namespace {

// The copy must be on disk before the rename makes it the game's file.
// Leaves the reason in the last error, as the system calls FileRetry runs do.
bool FlushToDisk(const char* path) {
  UniqueHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  return file.IsValid() && FlushFileBuffers(file.Get()) && file.Close();
}

}  // namespace

SystemResult ReplacementPath(const char* destination, char (&replacement)[MAX_PATH]) {
  if (!FormatFitted(replacement, sizeof replacement, "%s%s", destination, REPLACEMENT_SUFFIX)) {
    return SystemResult::Failed(ERROR_FILENAME_EXCED_RANGE);
  }
  return SystemResult::Ok();
}

SystemResult PrepareReplacement(const char* destination, const char* replacement) {
  DWORD existing = GetFileAttributesA(destination);
  // A folder of that name, or a file marked read-only or hidden, is not the
  // run's to replace: refused before anything is written for it.
  if (existing != INVALID_FILE_ATTRIBUTES &&
      (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY)) !=
          0) {
    return SystemResult::Failed(ERROR_ACCESS_DENIED);
  }
  // A failure to make it writable shows when the copy is written.
  if (GetFileAttributesA(replacement) != INVALID_FILE_ATTRIBUTES) {
    (void)RetryingSetFileAttributes(replacement, FILE_ATTRIBUTE_NORMAL);
  }
  return SystemResult::Ok();
}

SystemResult MoveReplacementIntoPlace(FileRetry& retry, const char* replacement,
                                      const char* destination) {
  return retry.Run([&] {
    return MoveFileExA(replacement, destination,
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  });
}

namespace {

// The copy beside `destination`, on disk, within `retry`'s budget.
SystemResult WriteCopy(FileRetry& retry, const char* source, const char* copy) {
  SystemResult result = retry.Run([&] { return CopyFileA(source, copy, FALSE) != FALSE; });
  if (result) result = retry.Run([&] { return FlushToDisk(copy); });
  return result;
}

}  // namespace

SystemResult StageWholeFile(const char* source, const char* destination) {
  char copy[MAX_PATH] = {};
  SystemResult result = ReplacementPath(destination, copy);
  if (result) result = PrepareReplacement(destination, copy);
  if (!result) return result;
  FileRetry retry(copy, source);
  result = WriteCopy(retry, source, copy);
  if (!result) (void)RetryingDeleteFile(copy);
  return result;
}

SystemResult ReplaceWholeFile(const char* source, const char* destination) {
  char temporary[MAX_PATH] = {};
  SystemResult result = ReplacementPath(destination, temporary);
  if (result) result = PrepareReplacement(destination, temporary);
  if (!result) return result;
  // One budget for the file: a scanner that opens the fresh copy, or a
  // program that holds the game's file, is waited for across all three steps.
  FileRetry retry(destination, temporary);
  result = WriteCopy(retry, source, temporary);
  if (result) result = MoveReplacementIntoPlace(retry, temporary, destination);
  if (!result) (void)RetryingDeleteFile(temporary);
  return result;
}
