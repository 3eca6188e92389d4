#include "update/session/file_failure.h"

#include "update/log/logger.h"
#include "update/session/update_session.h"

namespace {

const char kTextSourceMismatch[] = "游戏文件与补丁不符,请修复游戏或下载完整补丁:%s";
const char kTextWriteFailed[] = "写入文件错误 %s %d";
const char kTextReadFailed[] = "读取文件错误 %s %d";
const char kTextRemoveFailed[] = "删除文件错误 %s %d";

}  // namespace

void SetNamedFailure(RunFailure& failure, DWORD code, const char* format, ...) {
  // Room for a whole path and the longest of the texts around it.
  char whole[UPDATE_PATH_SIZE + RUN_FAILURE_TEXT_SIZE];
  va_list args;
  va_start(args, format);
  const bool fitted = FormatFittedV(whole, RUN_FAILURE_TEXT_SIZE, format, args);
  va_end(args);
  if (!fitted) {
    va_start(args, format);
    FormatFittedV(whole, sizeof whole, format, args);
    va_end(args);
    g_Log.Info("%s", whole);
  }
  failure.Set(code, "%s", whole);
}

void SetSourceMismatch(RunFailure& failure, const char* path) {
  SetNamedFailure(failure, ERROR_FILE_INVALID, kTextSourceMismatch, path);
}

void SetWriteFailure(RunFailure& failure, const char* path, DWORD error) {
  SetNamedFailure(failure, error, kTextWriteFailed, path, static_cast<int>(error));
}

void SetReadFailure(RunFailure& failure, const char* path, DWORD error) {
  SetNamedFailure(failure, error, kTextReadFailed, path, static_cast<int>(error));
}

void SetRemoveFailure(RunFailure& failure, const char* path, DWORD error) {
  SetNamedFailure(failure, error, kTextRemoveFailed, path, static_cast<int>(error));
}
