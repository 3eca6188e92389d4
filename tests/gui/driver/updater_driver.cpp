#include "updater_driver.h"

#include <commctrl.h>

#include <cstring>

#include "update/ui/resource.h"
#include "whole_file.h"

namespace {

// Control of a message box that holds its text (the same in every
// implementation of the standard message box template).
constexpr int kMessageBoxTextId = 0xFFFF;
// Cross-process sends wait for a busy, emulated program; never forever.
constexpr UINT kSendTimeoutMs = 10000;

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof(name));
  return name;
}

// WM_GETTEXT, marshalled across processes by the system.
std::string TextOf(HWND window) {
  if (!window) return std::string();
  char text[1024] = {};
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                           SMTO_ABORTIFHUNG, kSendTimeoutMs, &copied)) {
    return std::string();
  }
  return std::string(text, strnlen(text, sizeof(text)));
}

LRESULT SendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &result)) {
    return -1;
  }
  return static_cast<LRESULT>(result);
}

struct WindowSearch {
  DWORD processId;
  bool (*matches)(HWND);
  HWND found;
};

BOOL CALLBACK CollectMatching(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || ClassOf(window) != "#32770") return TRUE;
  if (!search->matches(window)) return TRUE;
  search->found = window;
  return FALSE;
}

HWND FindTopLevel(DWORD processId, bool (*matches)(HWND)) {
  WindowSearch search = {processId, matches, nullptr};
  EnumWindows(CollectMatching, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool IsMainDialog(HWND window) { return GetDlgItem(window, IDC_PROGRESS_FILE) != nullptr; }
// A box or browser exists before its initialisation has filled in its texts;
// it is shown only afterwards, so only a visible one is read.
bool IsMessageBox(HWND window) {
  return GetDlgItem(window, kMessageBoxTextId) != nullptr && IsWindowVisible(window);
}
bool IsFolderBrowser(HWND window) {
  return FindWindowExA(window, nullptr, "SysTreeView32", nullptr) != nullptr &&
         IsWindowVisible(window);
}

template <typename Find>
HWND WaitFor(const UpdaterProcess& process, DWORD timeoutMs, Find find) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < timeoutMs) {
    if (HWND window = find()) return window;
    if (process.HasExited()) return nullptr;
    PollPause();
  }
  return nullptr;
}

}  // namespace

void PollPause() { Sleep(100); }

namespace {

struct TextSearch {
  const std::string* text;
  bool found;
};

BOOL CALLBACK MatchChildText(HWND child, LPARAM context) {
  auto* search = reinterpret_cast<TextSearch*>(context);
  if (TextOf(child) == *search->text) {
    search->found = true;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

bool HasChildWithText(HWND window, const std::string& text) {
  TextSearch search = {&text, false};
  EnumChildWindows(window, MatchChildText, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

UpdaterProcess::~UpdaterProcess() {
  if (process_.IsValid() && !HasExited()) {
    TerminateProcess(process_.Get(), 99);
    WaitForSingleObject(process_.Get(), 30000);
  }
}

bool UpdaterProcess::Start(const std::string& exePath, const std::string& arguments) {
  std::string commandLine = "\"" + exePath + "\"";
  if (!arguments.empty()) commandLine += " " + arguments;
  std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(exePath.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  process_.Reset(info.hProcess);
  processId_ = info.dwProcessId;
  size_t slash = exePath.find_last_of("\\/");
  exeName_ = slash == std::string::npos ? exePath : exePath.substr(slash + 1);
  return true;
}

bool UpdaterProcess::Suspend() const {
  typedef LONG(WINAPI * SuspendProcess)(HANDLE);
  auto suspend = reinterpret_cast<SuspendProcess>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSuspendProcess")));
  return suspend != nullptr && suspend(process_.Get()) >= 0;
}

bool UpdaterProcess::KillHard(DWORD timeoutMs) {
  char current[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof(current), current);
  const std::string service = std::string(current) + "\\kill-service";
  if (GetFileAttributesA(service.c_str()) == INVALID_FILE_ATTRIBUTES) {
    TerminateProcess(process_.Get(), 137);
  } else {
    // The request appears whole or not at all: written aside, then renamed.
    const std::string request = service + "\\request";
    DeleteFileA((service + "\\done").c_str());
    if (!WriteWholeFile(request + ".tmp", exeName_)) return false;
    if (!MoveFileExA((request + ".tmp").c_str(), request.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      return false;
    }
  }
  return WaitForSingleObject(process_.Get(), timeoutMs) == WAIT_OBJECT_0;
}

bool UpdaterProcess::HasExited() const {
  return WaitForSingleObject(process_.Get(), 0) == WAIT_OBJECT_0;
}

HWND UpdaterProcess::FindDialog() const { return FindTopLevel(processId_, IsMainDialog); }
HWND UpdaterProcess::FindMessageBox() const { return FindTopLevel(processId_, IsMessageBox); }
HWND UpdaterProcess::FindFolderBrowser() const { return FindTopLevel(processId_, IsFolderBrowser); }

DialogSnapshot UpdaterProcess::ReadDialog(HWND dialog) const {
  DialogSnapshot snapshot;
  snapshot.window = dialog;
  snapshot.visible = IsWindowVisible(dialog) != FALSE;
  snapshot.title = TextOf(dialog);
  snapshot.dirText = TextOf(GetDlgItem(dialog, IDC_GAME_DIR));
  snapshot.statusText = TextOf(GetDlgItem(dialog, IDC_STATUS));
  snapshot.updateEnabled = IsWindowEnabled(GetDlgItem(dialog, IDC_UPDATE)) != FALSE;
  HWND bar = GetDlgItem(dialog, IDC_PROGRESS_FILE);
  snapshot.progressPos = static_cast<int>(SendWithTimeout(bar, PBM_GETPOS, 0, 0));
  // With a null PBRANGE the limits come back as the result, so nothing needs
  // to cross the process boundary by pointer.
  snapshot.rangeLow = static_cast<int>(SendWithTimeout(bar, PBM_GETRANGE, TRUE, 0));
  snapshot.rangeHigh = static_cast<int>(SendWithTimeout(bar, PBM_GETRANGE, FALSE, 0));
  snapshot.complete = IsWindow(dialog) && bar && GetDlgItem(dialog, IDC_GAME_DIR) &&
                      GetDlgItem(dialog, IDC_STATUS) && GetDlgItem(dialog, IDC_UPDATE);
  return snapshot;
}

bool UpdaterProcess::WaitForVisibleDialog(DWORD timeoutMs, DialogSnapshot* snapshot) const {
  return WaitForDialogState(
      timeoutMs, [](const DialogSnapshot& seen) { return seen.visible; }, snapshot);
}

HWND UpdaterProcess::WaitForMessageBox(DWORD timeoutMs) const {
  return WaitFor(*this, timeoutMs, [this] { return FindMessageBox(); });
}

HWND UpdaterProcess::WaitForFolderBrowser(DWORD timeoutMs) const {
  return WaitFor(*this, timeoutMs, [this] { return FindFolderBrowser(); });
}

SeenMessageBox UpdaterProcess::AnswerMessageBox(HWND box) const {
  SeenMessageBox seen;
  if (HWND dialog = FindDialog()) seen.dialog = ReadDialog(dialog);
  // A box can be seen before it has set its texts (the system shows the
  // dialog, then fills it in): every box of the updater says something, so
  // its texts are read once they are there.
  const DWORD shown = GetTickCount();
  do {
    seen.caption = TextOf(box);
    seen.text = TextOf(GetDlgItem(box, kMessageBoxTextId));
    if (!seen.text.empty() || !IsWindow(box)) break;
    PollPause();
  } while (GetTickCount() - shown < 10000);
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
  // Wait for this box to go, so that it is not answered twice.
  DWORD start = GetTickCount();
  while (IsWindow(box) && GetTickCount() - start < 30000) PollPause();
  return seen;
}

void UpdaterProcess::ClickUpdate() const {
  HWND dialog = FindDialog();
  PostMessageA(GetDlgItem(dialog, IDC_UPDATE), BM_CLICK, 0, 0);
}

void UpdaterProcess::ClickGameDir() const {
  // What a click on a SS_NOTIFY static sends its parent.
  HWND dialog = FindDialog();
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_GAME_DIR, STN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_GAME_DIR)));
}

void UpdaterProcess::PressEscape() const {
  PostMessageA(FindDialog(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

void UpdaterProcess::CloseBox() const { PostMessageA(FindDialog(), WM_CLOSE, 0, 0); }

// A thread takes posted messages in the order they were posted, whichever of
// its windows they are for, so a marker posted to the dialog's progress bar is
// dispatched only after every earlier post. The bar's step, which the updater
// never uses, carries the marker. (A sent message proves nothing here: the
// thread takes sent messages before posted ones.)
bool UpdaterProcess::WaitUntilHandled(DWORD timeoutMs) {
  HWND bar = GetDlgItem(FindDialog(), IDC_PROGRESS_FILE);
  const LRESULT marker = 1000 + ++markers_;
  if (!bar || !PostMessageA(bar, PBM_SETSTEP, static_cast<WPARAM>(marker), 0)) return false;
  DWORD start = GetTickCount();
  while (GetTickCount() - start < timeoutMs) {
    if (SendWithTimeout(bar, PBM_GETSTEP, 0, 0) == marker) return true;
    if (HasExited()) return false;
    PollPause();
  }
  return false;
}

UpdaterOutcome UpdaterProcess::RunToEnd(DWORD timeoutMs) {
  UpdaterOutcome outcome;
  DWORD start = GetTickCount();
  while (GetTickCount() - start < timeoutMs) {
    if (HWND dialog = FindDialog()) {
      outcome.dialogSeen = true;
      DialogSnapshot snapshot = ReadDialog(dialog);
      if (snapshot.visible) outcome.dialogEverVisible = true;
      if (snapshot.complete) outcome.lastDialog = snapshot;
    }
    if (HWND box = FindMessageBox()) outcome.boxes.push_back(AnswerMessageBox(box));
    if (HasExited()) {
      outcome.exited = true;
      GetExitCodeProcess(process_.Get(), &outcome.exitCode);
      return outcome;
    }
    PollPause();
  }
  return outcome;
}

UpdaterOutcome RunUpdater(const std::string& exePath, const std::string& arguments,
                          DWORD timeoutMs) {
  UpdaterProcess updater;
  if (!updater.Start(exePath, arguments)) return UpdaterOutcome();
  return updater.RunToEnd(timeoutMs);
}
