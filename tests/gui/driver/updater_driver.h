// Drives a running Update.exe from outside, as a user would: finds its
// windows, reads what they show, clicks, answers message boxes, and waits for
// the process to end. Every wait is bounded; Wine under emulation is slow, so
// callers give generous timeouts.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "update/files/win32_handle.h"

// What the main dialog showed at one moment.
struct DialogSnapshot {
  HWND window = nullptr;
  // All controls were there: a dialog being torn down reads as incomplete.
  bool complete = false;
  bool visible = false;
  std::string title;
  std::string dirText;
  std::string statusText;
  bool updateEnabled = false;
  int progressPos = -1;
  int rangeLow = -1;
  int rangeHigh = -1;
};

struct SeenMessageBox {
  std::string caption;
  std::string text;
  DialogSnapshot dialog;  // the main dialog while the box was up (if it existed)
};

struct UpdaterOutcome {
  bool exited = false;
  DWORD exitCode = 0;
  std::vector<SeenMessageBox> boxes;  // in the order they appeared
  bool dialogSeen = false;
  bool dialogEverVisible = false;
  DialogSnapshot lastDialog;  // the last complete snapshot of the dialog
};

class UpdaterProcess {
 public:
  UpdaterProcess() = default;
  ~UpdaterProcess();  // ends a process that is still running
  UpdaterProcess(const UpdaterProcess&) = delete;
  UpdaterProcess& operator=(const UpdaterProcess&) = delete;

  // `arguments` follow the quoted program path on the command line.
  bool Start(const std::string& exePath, const std::string& arguments);
  DWORD ProcessId() const { return processId_; }
  // The program's file name, as started ("Update.exe").
  const std::string& ExeName() const { return exeName_; }
  bool HasExited() const;

  HWND FindDialog() const;
  HWND FindMessageBox() const;
  HWND FindFolderBrowser() const;
  DialogSnapshot ReadDialog(HWND dialog) const;

  // Polls until the dialog is visible; false on timeout.
  bool WaitForVisibleDialog(DWORD timeoutMs, DialogSnapshot* snapshot) const;
  // Polls until `done` holds for a snapshot of the dialog; false on timeout.
  template <typename Predicate>
  bool WaitForDialogState(DWORD timeoutMs, Predicate done, DialogSnapshot* snapshot) const;
  HWND WaitForMessageBox(DWORD timeoutMs) const;
  HWND WaitForFolderBrowser(DWORD timeoutMs) const;

  // Reads a box's caption and text, then presses its OK button.
  SeenMessageBox AnswerMessageBox(HWND box) const;

  void ClickUpdate() const;
  void ClickGameDir() const;
  void PressEscape() const;  // IDCANCEL, as the Escape key sends it
  void CloseBox() const;     // WM_CLOSE, as the close box sends it

  // Waits until the dialog's thread has handled every message posted to it
  // so far; false when the program ended first or on timeout.
  bool WaitUntilHandled(DWORD timeoutMs);

  // Answers every message box, watches the dialog, and waits for the end.
  UpdaterOutcome RunToEnd(DWORD timeoutMs);

  // Stops every thread of the program where it stands, so that a test can
  // look at a moment of the run before it ends the program.
  bool Suspend() const;
  // Ends the program the hard way, as a crash or a power cut would, and
  // waits until it is gone. Under the kill service (tests/gui/kill_service.sh)
  // that is SIGKILL of the Wine process; without it, TerminateProcess, which
  // likewise runs none of the program's code. False if it did not end.
  bool KillHard(DWORD timeoutMs);

 private:
  UniqueHandle process_;
  DWORD processId_ = 0;
  std::string exeName_;
  int markers_ = 0;
};

// Starts the updater with `arguments` and runs it to its end (RunToEnd).
UpdaterOutcome RunUpdater(const std::string& exePath, const std::string& arguments,
                          DWORD timeoutMs);

// Whether a child (at any depth) of `window` shows exactly `text`.
bool HasChildWithText(HWND window, const std::string& text);

// Short polling pause for the loops above and in tests.
void PollPause();

template <typename Predicate>
bool UpdaterProcess::WaitForDialogState(DWORD timeoutMs, Predicate done,
                                        DialogSnapshot* snapshot) const {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < timeoutMs) {
    HWND dialog = FindDialog();
    if (dialog) {
      *snapshot = ReadDialog(dialog);
      if (done(*snapshot)) return true;
    }
    if (HasExited()) return false;
    PollPause();
  }
  return false;
}
