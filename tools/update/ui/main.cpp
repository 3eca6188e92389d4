// Entry of Update.exe: the whole program is the modal dialog IDD_UPDATE.
#include <windows.h>
#include <commctrl.h>

#include "update/session/host_hooks.h"
#include "update/session/run_outcome.h"
#include "update/ui/globals.h"
#include "update/ui/resource.h"
#include "update/ui/update_dialog.h"

namespace {

// The launcher is told the dialog's window, as long as there is one.
void* MainDialogWindow() { return g_hMainDlg; }

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  g_hInstance = instance;
  SetOwnerWindowProvider(&MainDialogWindow);
  // The template holds a progress bar; its class must exist before the
  // dialog is created or the dialog fails to load.
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_PROGRESS_CLASS;
  InitCommonControlsEx(&controls);
  // The dialog ends with the run's outcome or with a refusal (run_outcome.h).
  INT_PTR outcome =
      DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_UPDATE), nullptr, UpdateDlgProc, 0);
  // -1: the dialog could not be shown at all, and nothing was updated.
  return outcome < 0 ? RUN_FAILED : static_cast<int>(outcome);
}
