// File operations that wait out another program holding the file for a
// moment. On players' machines virus scanners open every freshly written
// program, and indexers and sync clients hold files, for a few milliseconds
// up to seconds; Windows then answers a write, rename or delete with a
// sharing or lock violation, or with "access denied" for a file that is
// neither missing nor read-only. Such an operation is tried again after a
// growing wait (retry_schedule.h), each retry logged, for about ten seconds
// per file in all; any other failure, and the last one, is returned as it
// is, with the system's error code.
//
// Every write, rename and delete in the game directory and in the run's
// temporary folder goes through this file: the Retrying* calls for single
// operations, FileRetry for a sequence on one file that shares one budget
// (copy, flush, rename), or FileRetry::Run around any other call.
#pragma once

#include <windows.h>

#include <cstdint>

#include "update/base/retry_schedule.h"
#include "update/files/system_result.h"
#include "update/files/win32_handle.h"

// Called before each retry with the file that was held and the wait chosen;
// the default sleeps. Tests install one that releases a holder or returns
// at once, so the policy is tested without waiting.
typedef void (*FileRetryWait)(const char* heldPath, uint32_t milliseconds);
// Passing null restores Sleep.
void SetFileRetryWait(FileRetryWait wait);

// Whether `error`, from an operation that writes, renames onto or deletes
// `path`, says that another program holds a file for now: a sharing or lock
// violation, or access denied while `path` is a file that exists and is not
// read-only (a read-only file, a folder in the way or a missing one refuse
// for good).
bool IsFileHeldError(DWORD error, const char* path);

class FileRetry {
 public:
  // `path` names the file the operations write, rename onto or delete,
  // `otherPath` a second one they touch (the source of a copy or rename), or
  // null; either may be the one held. Both must outlive the object.
  explicit FileRetry(const char* path, const char* otherPath = nullptr)
      : path_(path), otherPath_(otherPath) {}
  FileRetry(const FileRetry&) = delete;
  FileRetry& operator=(const FileRetry&) = delete;

  // Calls `attempt` (a system call returning true on success and leaving
  // the reason in the last error on failure) until it succeeds, fails for a
  // reason other than a held file, or this object's budget is spent; the
  // failure is the last attempt's. The budget is shared by every Run on the
  // object.
  template <typename Attempt>
  SystemResult Run(Attempt attempt) {
    for (;;) {
      if (attempt()) return SystemResult::Ok();
      const DWORD error = GetLastError();
      if (!WaitBeforeRetry(error)) return SystemResult::Failed(error);
    }
  }

  // How many retries this object has made so far.
  uint32_t Retries() const { return retries_; }

 private:
  // Waits and returns true when `error` is worth another attempt; otherwise
  // (and once the budget is spent, after logging who holds the file) false.
  bool WaitBeforeRetry(DWORD error);

  const char* path_;
  const char* otherPath_;
  uint32_t retries_ = 0;
  uint32_t waitedMs_ = 0;
};

// The single operations, each with a budget of its own. Arguments are as
// for the system calls of the same name; RetryingCreateFile puts the handle
// into `file` (owning nothing on failure).
SystemResult RetryingCreateFile(const char* path, DWORD access, DWORD share, DWORD disposition,
                                DWORD flags, UniqueHandle* file);
SystemResult RetryingCopyFile(const char* from, const char* to, bool failIfExists);
SystemResult RetryingMoveFile(const char* from, const char* to, DWORD flags);
SystemResult RetryingDeleteFile(const char* path);
SystemResult RetryingRemoveDirectory(const char* path);
SystemResult RetryingSetFileAttributes(const char* path, DWORD attributes);
// Deletes `path` whatever its attributes (read-only included): they are
// cleared first, and both steps share one budget.
SystemResult RetryingForceDeleteFile(const char* path);
