#include "update/ui/update_worker.h"

#include <commctrl.h>

#include "update/session/host_hooks.h"
#include "update/session/run_outcome.h"
#include "update/session/update_session.h"
#include "update/ui/globals.h"
#include "update/ui/progress_display.h"
#include "update/ui/resource.h"

namespace {

// Range 1..100 (low word minimum, high word maximum).
constexpr LPARAM kProgressRange = 6553601;

void ResetProgressBar(HWND dialog, int controlId) {
  SendDlgItemMessageA(dialog, controlId, PBM_SETRANGE, 0, kProgressRange);
  SendDlgItemMessageA(dialog, controlId, PBM_SETPOS, 0, 0);
}

}  // namespace

DWORD WINAPI UpdateWorkerProc(LPVOID dialogWindow) {
  HWND dialog = static_cast<HWND>(dialogWindow);
  // Test and set in one step: two workers started back to back must never
  // both run the patch.
  if (g_bUpdating.exchange(true)) return 1;

  ResetProgressBar(dialog, IDC_PROGRESS_FILE);
  ResetProgressBar(dialog, IDC_PROGRESS_TOTAL);
  UpdateWindow(GetDlgItem(dialog, IDC_PROGRESS_FILE));
  UpdateWindow(GetDlgItem(dialog, IDC_PROGRESS_TOTAL));

  UpdateSession::SetProgressCallback(OnUpdateProgress, 0);

  RunChecks checks;
  const bool applied = g_UpdateSession.ApplyPatch(checks) != 0;
  // A record that could not be written does not change what the user is
  // told; only the exit code says so.
  const bool recorded = applied && g_UpdateSession.WriteVersionRecord();
  if (applied) {
    if (!g_UpdateSession.autoMode) ShowWarning("更新补丁文件完成!!");
  } else if (checks.versionOk && checks.spaceOk && checks.sourcesOk && checks.noForeignCommit) {
    // A refused version has been explained by the run itself (or is silent
    // in automatic mode, where the caller decides what to tell the user), and
    // so have a disk too small, installed files the patch does not fit and
    // another patch's commit waiting: the updater is not damaged then.
    ShowWarning("补丁文件可能已经损坏或无效,请重新下载!");
  }
  g_bUpdating = false;

  ReleaseCapture();
  SetCursor(LoadCursor(nullptr, IDC_ARROW));
  // Only after the outcome box has been closed: the dialog ends with the
  // outcome, which becomes the program's exit code.
  PostMessageA(dialog, WM_UPDATE_RUN_ENDED, OutcomeOfRun(applied, checks, recorded), 0);
  return 0;
}

void StartUpdateWorker(HWND dialog) {
  HANDLE previous = g_hWorkerThread;
  g_hWorkerThread = CreateThread(nullptr, 0, UpdateWorkerProc, dialog, 0, nullptr);
  // Closing a thread handle does not stop the thread; a run that an earlier
  // start is still carrying out stays visible through its claim.
  if (previous) CloseHandle(previous);
}

bool IsUpdateRunUnderWay() {
  if (g_bUpdating) return true;
  return g_hWorkerThread && WaitForSingleObject(g_hWorkerThread, 0) == WAIT_TIMEOUT;
}
