#include "update/session/update_session.h"

#include "update/session/progress_report.h"

UpdateSession g_UpdateSession;

namespace {

// Process-wide, not per session: the dialog's callback belongs to the
// program, and the worker registers it afresh before every run.
ProgressCallback g_progressCallback = nullptr;
uint32_t g_progressUserValue = 0;

}  // namespace

void ReportProgress(uint32_t code, uint32_t a, uint32_t b) {
  ProgressCallback callback = g_progressCallback;
  if (callback != nullptr) callback(g_progressUserValue, code, a, b);
}

UpdateSession::UpdateSession() : gameDir{}, autoMode(false) {}

UpdateSession::~UpdateSession() = default;

int UpdateSession::SetProgressCallback(ProgressCallback callback, uint32_t userValue) {
  g_progressCallback = callback;
  g_progressUserValue = userValue;
  return 1;
}

char* UpdateSession::GetGameDir() { return gameDir; }

int UpdateSession::SetGameDir(const char* path) {
  if (path == nullptr) path = "";
  size_t length = 0;
  while (length < UPDATE_PATH_SIZE - 1 && path[length] != '\0') {
    gameDir[length] = path[length];
    ++length;
  }
  gameDir[length] = '\0';
  return path[length] == '\0' ? 1 : 0;
}
