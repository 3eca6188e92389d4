#include "update/files/file_retry.h"

#include <atomic>

#include "update/files/held_file_owner.h"
#include "update/log/logger.h"

namespace {

const char kTextRetrying[] = "文件被占用,等待重试 %s %d %d";
const char kTextGaveUp[] = "文件被其他程序占用 %s %s";
const char kTextUnknownHolder[] = "未知程序";

void RealWait(const char* heldPath, uint32_t milliseconds) {
  (void)heldPath;
  Sleep(milliseconds);
}

// Set by tests before the code under test runs; read from any thread.
std::atomic<FileRetryWait> g_fileRetryWait{nullptr};

bool IsWritableFile(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

}  // namespace

void SetFileRetryWait(FileRetryWait wait) { g_fileRetryWait = wait; }

bool IsFileHeldError(DWORD error, const char* path) {
  switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return true;
    case ERROR_ACCESS_DENIED:
      return IsWritableFile(path);
    default:
      return false;
  }
}

bool FileRetry::WaitBeforeRetry(DWORD error) {
  if (!IsFileHeldError(error, path_)) return false;
  const uint32_t wait = NextRetryWaitMs(retries_, waitedMs_);
  if (wait == 0) {
    // Of two files, the one the system names a holder for is the one held.
    char holders[200] = {};
    const char* held = path_;
    if (!DescribeFileHolders(path_, holders, sizeof holders) && otherPath_ != nullptr &&
        DescribeFileHolders(otherPath_, holders, sizeof holders)) {
      held = otherPath_;
    }
    g_Log.Info(kTextGaveUp, held, holders[0] != '\0' ? holders : kTextUnknownHolder);
    return false;
  }
  ++retries_;
  waitedMs_ += wait;
  g_Log.Info(kTextRetrying, path_, static_cast<int>(error), static_cast<int>(retries_));
  FileRetryWait hook = g_fileRetryWait.load();
  if (hook != nullptr) {
    hook(path_, wait);
  } else {
    RealWait(path_, wait);
  }
  return true;
}

SystemResult RetryingCreateFile(const char* path, DWORD access, DWORD share, DWORD disposition,
                                DWORD flags, UniqueHandle* file) {
  return FileRetry(path).Run([&] {
    file->Reset(CreateFileA(path, access, share, nullptr, disposition, flags, nullptr));
    return file->IsValid();
  });
}

SystemResult RetryingCopyFile(const char* from, const char* to, bool failIfExists) {
  return FileRetry(to, from).Run(
      [&] { return CopyFileA(from, to, failIfExists ? TRUE : FALSE) != FALSE; });
}

SystemResult RetryingMoveFile(const char* from, const char* to, DWORD flags) {
  return FileRetry(to, from).Run([&] { return MoveFileExA(from, to, flags) != FALSE; });
}

SystemResult RetryingDeleteFile(const char* path) {
  return FileRetry(path).Run([&] { return DeleteFileA(path) != FALSE; });
}

SystemResult RetryingRemoveDirectory(const char* path) {
  return FileRetry(path).Run([&] { return RemoveDirectoryA(path) != FALSE; });
}

SystemResult RetryingSetFileAttributes(const char* path, DWORD attributes) {
  return FileRetry(path).Run([&] { return SetFileAttributesA(path, attributes) != FALSE; });
}

SystemResult RetryingForceDeleteFile(const char* path) {
  FileRetry retry(path);
  // A failure to clear them shows in the deletion.
  (void)retry.Run([&] { return SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL) != FALSE; });
  return retry.Run([&] { return DeleteFileA(path) != FALSE; });
}
