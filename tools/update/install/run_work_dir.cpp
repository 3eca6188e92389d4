#include "update/install/run_work_dir.h"

#include <windows.h>

#include <cstring>

#include "update/files/file_retry.h"
#include "update/files/remove_tree.h"
#include "update/session/temp_path.h"

const char* const RUN_WORK_DIR_NAME = UPDATER_INSTANCE_NAME;

namespace {

const char kTextNoTempDir[] = "错误的临时目录:参数 %d";

bool IsDirectory(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

}  // namespace

bool RunWorkDir::Create(RunFailure& failure) {
  DWORD detail = 0;
  switch (ComposeTempPath(RUN_WORK_DIR_NAME, path_, &detail)) {
    case TempPathResult::Ok:
      break;
    case TempPathResult::NoTempDir:
      failure.Set(ERROR_FILE_CORRUPT, kTextNoTempDir, static_cast<int>(detail));
      return false;
    case TempPathResult::TooLong:
      failure.Set(ERROR_FILE_CORRUPT, kTextNoTempDir, static_cast<int>(ERROR_FILENAME_EXCED_RANGE));
      return false;
  }
  // Only a folder of that name is a run's; a file there is not ours and
  // makes the folder impossible to create.
  if (IsDirectory(path_)) RemoveTree(path_);
  // What could not be removed now (a file some other program holds open) does
  // not stop the run: the folder is used as it is and emptied again at the end.
  if (!CreateDirectoryA(path_, nullptr)) {
    const DWORD error = GetLastError();
    if (!IsDirectory(path_)) {
      failure.Set(ERROR_FILE_CORRUPT, kTextNoTempDir, static_cast<int>(error));
      return false;
    }
  }
  created_ = true;
  return true;
}

void RunWorkDir::RemoveEntry(const char* extractionPath) const {
  if (!created_) return;
  (void)RetryingDeleteFile(extractionPath);
  RemoveEmptyParents(extractionPath, std::strlen(path_));
}

void RunWorkDir::Remove() {
  if (!created_) return;
  RemoveTree(path_);
  created_ = false;
}
