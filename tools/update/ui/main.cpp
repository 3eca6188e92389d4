// Entry of Update.exe: the whole program is the modal dialog IDD_UPDATE.
#include <windows.h>
#include <commctrl.h>

#include "globals.h"
#include "host_hooks.h"
#include "resource.h"
#include "update_dialog.h"

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
  return static_cast<int>(
      DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_UPDATE), nullptr, UpdateDlgProc, 0));
}
