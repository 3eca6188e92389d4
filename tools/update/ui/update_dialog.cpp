#include "update/ui/update_dialog.h"

#include <shlobj.h>

#include <cstring>

#include "update/base/unique_resource.h"
#include "update/session/host_hooks.h"
#include "update/session/run_outcome.h"
#include "update/session/update_session.h"
#include "update/ui/command_line.h"
#include "update/ui/game_process.h"
#include "update/ui/globals.h"
#include "update/ui/registry_value.h"
#include "update/ui/resource.h"
#include "update/ui/update_worker.h"

namespace {

constexpr const char* kInvalidChosenDir = "对不起，不正确的Orvenna游戏目录!";

void ReplaceStopEvent() {
  if (g_hStopEvent) CloseHandle(g_hStopEvent);
  g_hStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

void SetClassIcons(HWND dialog) {
  SetClassLongPtrA(dialog, GCLP_HICON,
                   reinterpret_cast<LONG_PTR>(LoadIconA(g_hInstance, MAKEINTRESOURCEA(IDI_APP))));
  SetClassLongPtrA(dialog, GCLP_HICONSM,
                   reinterpret_cast<LONG_PTR>(LoadIconA(g_hInstance, MAKEINTRESOURCEA(IDI_APP))));
}

void ShowUninstallDir(HWND dialog) {
  char dir[UNINSTALL_DIR_SIZE];
  ReadUninstallDir(dir);
  SetDlgItemTextA(dialog, IDC_GAME_DIR,
                  dir[0] ? dir : "            点击这里选择《Orvenna》游戏目录进行更新");
  g_UpdateSession.SetGameDir(dir);
}

INT_PTR OnInitDialog(HWND dialog) {
  char title[UPDATE_PATH_SIZE] = {};
  g_UpdateSession.FormatWindowTitle(title);
  SetWindowTextA(dialog, title);
  SetClassIcons(dialog);

  if (g_UpdateSession.IsAnotherInstanceRunning()) {
    ShowWarning("无法同时运行两个更新补丁");
    EndDialog(dialog, RUN_REFUSED);
    return TRUE;
  }

  g_UpdateSession.ReadInstallPath();  // gameDir is replaced below either way
  CommandLineDir fromCommandLine =
      ReadCommandLineDir(GetCommandLineA(), g_UpdateSession.GetGameDir(), UPDATE_PATH_SIZE);
  if (fromCommandLine == CommandLineDir::TooLong) {
    // A cut path would name another directory; refuse like any other
    // unusable directory instead of updating something the caller did not ask for.
    ShowWarning(kInvalidChosenDir);
    EndDialog(dialog, RUN_REFUSED);
    return TRUE;
  }
  g_UpdateSession.autoMode = fromCommandLine == CommandLineDir::Stored;
  g_hMainDlg = dialog;
  g_progressControls = LookUpProgressControls(dialog);

  if (IsGameRunning()) {
    ShowWarning("游戏正在运行,请退出游戏后重新更新补丁!");
    EndDialog(dialog, RUN_REFUSED);
    return TRUE;
  }

  if (g_UpdateSession.autoMode) {
    SetDlgItemTextA(dialog, IDC_GAME_DIR, g_UpdateSession.gameDir);
    EnableWindow(GetDlgItem(dialog, IDC_UPDATE), FALSE);
    ReplaceStopEvent();
    StartUpdateWorker(dialog);
    ShowWindow(dialog, SW_HIDE);
    return TRUE;
  }
  ShowUninstallDir(dialog);
  return TRUE;
}

// The shell allocates the browser's item list; its allocator frees it.
bool FreeItemList(PIDLIST_ABSOLUTE list) {
  IMalloc* allocator = nullptr;
  if (FAILED(SHGetMalloc(&allocator))) return false;
  allocator->Free(list);
  allocator->Release();
  return true;
}
using UniqueItemList = UniqueResource<PIDLIST_ABSOLUTE, FreeItemList>;

INT_PTR OnGameDirClicked(HWND dialog) {
  // The run reads gameDir until it ends; a folder chosen now would change
  // the directory under it.
  if (IsUpdateRunUnderWay()) return TRUE;

  // The browser's display name (e.g. "Client") is no path; it gets a buffer
  // of its own so it can never end up in gameDir.
  char displayName[MAX_PATH] = {};
  BROWSEINFOA browse = {};
  browse.hwndOwner = dialog;
  browse.pszDisplayName = displayName;
  browse.lpszTitle = "选择【Orvenna】游戏的安装目录:";
  browse.ulFlags = BIF_RETURNONLYFSDIRS;
  UniqueItemList chosen(SHBrowseForFolderA(&browse));
  if (chosen.Get()) {
    char path[MAX_PATH] = {};
    // A folder outside the file system has no path: show and store nothing.
    if (SHGetPathFromIDListA(chosen.Get(), path)) {
      SetDlgItemTextA(dialog, IDC_GAME_DIR, path);
      g_UpdateSession.SetGameDir(path);
    }
  }

  if (!g_UpdateSession.IsGameDirValid()) {
    ShowWarning(kInvalidChosenDir);
    return TRUE;
  }
  ReplaceStopEvent();
  StartUpdateWorker(dialog);
  return TRUE;
}

INT_PTR OnUpdateClicked(HWND dialog) {
  if (!g_UpdateSession.IsGameDirValid()) {
    ShowWarning("请先选择要更新的Orvenna游戏目录!");
    return FALSE;
  }
  // A start during a run ends at once in the worker; the run goes on.
  StartUpdateWorker(dialog);
  return TRUE;
}

INT_PTR OnCancel(HWND dialog) {
  if (g_hStopEvent) SetEvent(g_hStopEvent);
  // Ending now would stop the run in the middle of writing the game's files.
  // The request is dropped; the worker ends the program when the run is over.
  if (IsUpdateRunUnderWay()) return TRUE;
  EndDialog(dialog, RUN_REFUSED);
  return TRUE;
}

// The run does not watch for a stop, so the only safe end is its own: wait
// for it, carrying out the control updates it sends meanwhile so that it can
// reach its end.
void WaitForRunToEnd() {
  while (IsUpdateRunUnderWay()) {
    HANDLE worker = g_hWorkerThread;
    MsgWaitForMultipleObjects(worker ? 1 : 0, worker ? &worker : nullptr, FALSE, 100,
                              QS_SENDMESSAGE);
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

INT_PTR OnDestroy() {
  if (IsUpdateRunUnderWay()) {
    if (g_hStopEvent) SetEvent(g_hStopEvent);
    WaitForRunToEnd();
  }
  if (g_hStopEvent) CloseHandle(g_hStopEvent);
  g_hStopEvent = nullptr;
  g_hMainDlg = nullptr;
  g_progressControls = ProgressControls();
  return FALSE;
}

// In automatic mode only message boxes are to be seen. The modal loop shows
// the dialog once it runs idle; dropping the show request keeps it hidden
// from the start instead of letting it flash up.
void KeepHidden(HWND dialog, UINT message, LPARAM lParam) {
  if (message == WM_WINDOWPOSCHANGING) {
    reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
  } else if (message != WM_SHOWWINDOW && IsWindowVisible(dialog)) {
    ShowWindow(dialog, SW_HIDE);
  }
}

}  // namespace

INT_PTR CALLBACK UpdateDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_UpdateSession.autoMode) KeepHidden(dialog, message, lParam);
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog);
    case WM_COMMAND:
      // The notification code is not looked at: one click on the static
      // (STN_CLICKED) is enough to open the browser.
      switch (LOWORD(wParam)) {
        case IDC_GAME_DIR:
          return OnGameDirClicked(dialog);
        case IDC_UPDATE:
          return OnUpdateClicked(dialog);
        case IDCANCEL:
          return OnCancel(dialog);
        default:
          return TRUE;
      }
    case WM_UPDATE_RUN_ENDED:
      EndDialog(dialog, static_cast<INT_PTR>(wParam));
      return TRUE;
    case WM_DESTROY:
      return OnDestroy();
    default:
      return FALSE;
  }
}
