// What the progress display costs an update run, under Wine.
//
//   update_ui_bench.exe WORK_DIR ENTRY_MIB
//
// In one process, on one updater file with one plain entry of ENTRY_MIB MiB:
//   engine  the update run with a no-op progress callback (no window at all);
//   ui      the same run on a worker thread reporting through OnUpdateProgress
//           to a real progress bar and status line owned by the main thread,
//           which dispatches messages as the dialog's modal loop does;
//   floors  one cross-thread sent message; PBM_SETPOS + UpdateWindow from
//           the other thread with the position unchanged (nothing to paint);
//           the same with a new position each time (a repaint); each timed
//           over as many repetitions as the run has reports.
// Then the complete program: Update.exe started on the same file in automatic
// mode (hidden dialog, real bar), timed from CreateProcess to its end.
// Prints one "key value" line per figure, times in seconds.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "test_files.h"
#include "update/session/host_hooks.h"
#include "update/session/update_session.h"
#include "update/ui/globals.h"
#include "update/ui/progress_display.h"
#include "update/ui/resource.h"

namespace {

std::string g_updaterPath;  // the bench's updater file, as the engine's own file

uint32_t BenchOwnPath(char* buffer, uint32_t size) {
  return static_cast<uint32_t>(std::snprintf(buffer, size, "%s", g_updaterPath.c_str()));
}

uint32_t g_reports = 0;
uint32_t g_positionChanges = 0;
uint32_t g_lastPosition = 0xFFFFFFFF;

void CountingNoOp(uint32_t, uint32_t code, uint32_t a, uint32_t b) {
  ++g_reports;
  uint32_t position = 0;
  if (ProgressPositionFor(code, a, b, &position) && position != g_lastPosition) {
    ++g_positionChanges;
    g_lastPosition = position;
  }
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

LARGE_INTEGER Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now;
}

// Runs `work` on a second thread while this thread dispatches messages, as
// the dialog thread does during a run; returns the seconds it took.
template <typename Work>
DWORD WINAPI RunWork(LPVOID work) {
  (*static_cast<Work*>(work))();
  return 0;
}

template <typename Work>
double OnWorkerWhilePumping(Work work) {
  LARGE_INTEGER start = Now();
  HANDLE thread = CreateThread(nullptr, 0, RunWork<Work>, &work, 0, nullptr);
  while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  }
  LARGE_INTEGER end = Now();
  CloseHandle(thread);
  return Seconds(start, end);
}

bool RunPatch(const std::string& game) {
  std::snprintf(g_UpdateSession.gameDir, sizeof(g_UpdateSession.gameDir), "%s", game.c_str());
  g_UpdateSession.autoMode = true;
  bool versionOk = true;
  bool ok = g_UpdateSession.ApplyPatch(versionOk) != 0;
  g_UpdateSession.WriteVersionRecord();
  return ok;
}

// Seconds from CreateProcess to the end of Update.exe started on `game`.
double RunProgram(const std::string& updater, const std::string& game) {
  MakeGameInstall(game, "1.4.1.33960", false);
  std::string commandLine = "\"" + updater + "\" \"" + game + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  LARGE_INTEGER start = Now();
  if (!CreateProcessA(updater.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &info)) {
    return -1;
  }
  WaitForSingleObject(info.hProcess, INFINITE);
  double seconds = Seconds(start, Now());
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return seconds;
}

void Report(const char* key, double value) { std::printf("%s %.6f\n", key, value); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: update_ui_bench WORK_DIR ENTRY_MIB\n");
    return 2;
  }
  const std::string work = argv[1];
  const size_t mib = std::strtoul(argv[2], nullptr, 10);
  CreateDirectoryA(work.c_str(), nullptr);

  PatchLayout layout;
  layout.files = {{"bench.bin", std::string(1 << 20, '\x5A'), mib}};
  g_updaterPath = work + "\\Update.exe";
  if (!MakeUpdaterFile(g_updaterPath, layout)) return 1;
  SetOwnPathProvider(BenchOwnPath);
  SetWarningSink([](const char* text) { std::fprintf(stderr, "warning: %s\n", text); });

  // A stand-in for the dialog: the bar and the status line under their ids.
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  // Hidden, like the dialog in automatic mode.
  HWND dialog = CreateWindowExA(0, "STATIC", "bench", WS_POPUP, 100, 100, 520, 90, nullptr, nullptr,
                                nullptr, nullptr);
  HWND bar =
      CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 50, 500, 20,
                      dialog, reinterpret_cast<HMENU>(IDC_PROGRESS_FILE), nullptr, nullptr);
  CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 10, 20, 300, 16, dialog,
                  reinterpret_cast<HMENU>(IDC_STATUS), nullptr, nullptr);
  SendMessageA(bar, PBM_SETRANGE, 0, 6553601);
  g_hMainDlg = dialog;
  g_progressControls = LookUpProgressControls(dialog);  // as the dialog takes them

  // Warm the file cache so neither contender pays for the first read.
  MakeGameInstall(work + "\\game_warm", "1.4.1.33960", false);
  UpdateSession::SetProgressCallback(CountingNoOp, 0);
  RunPatch(work + "\\game_warm");

  g_reports = g_positionChanges = 0;
  g_lastPosition = 0xFFFFFFFF;
  MakeGameInstall(work + "\\game_engine", "1.4.1.33960", false);
  bool engineOk = false;
  double engine = OnWorkerWhilePumping([&] { engineOk = RunPatch(work + "\\game_engine"); });
  const uint32_t reports = g_reports;
  const uint32_t changes = g_positionChanges;

  MakeGameInstall(work + "\\game_ui", "1.4.1.33960", false);
  UpdateSession::SetProgressCallback(OnUpdateProgress, 0);
  bool uiOk = false;
  double ui = OnWorkerWhilePumping([&] { uiOk = RunPatch(work + "\\game_ui"); });

  double send = OnWorkerWhilePumping([&] {
    for (uint32_t i = 0; i < reports; ++i) SendMessageA(dialog, WM_NULL, 0, 0);
  });
  // What every report costs at least: the position is sent and the bar
  // updated, here with nothing to repaint.
  SendMessageA(bar, PBM_SETPOS, 50, 0);
  double unchanged = OnWorkerWhilePumping([&] {
    for (uint32_t i = 0; i < reports; ++i) {
      SendMessageA(bar, PBM_SETPOS, 50, 0);
      UpdateWindow(bar);
    }
  });
  double repaint = OnWorkerWhilePumping([&] {
    for (uint32_t i = 0; i < reports; ++i) {
      SendMessageA(bar, PBM_SETPOS, 1 + i % 100, 0);  // a new position every time
      UpdateWindow(bar);
    }
  });
  g_hMainDlg = nullptr;
  g_progressControls = ProgressControls();
  DestroyWindow(dialog);

  // The whole program in automatic mode, on the 64 MiB patch and on an empty
  // one: the difference leaves out what starting and ending a process costs.
  double program = RunProgram(g_updaterPath, work + "\\game_program");
  bool programOk = IniValue(work + "\\game_program\\Config\\Client.ini", "Version",
                            "GameVersion") == "1.4.1.34242";
  PatchLayout empty;
  MakeUpdaterFile(work + "\\Empty.exe", empty);
  double programEmpty = RunProgram(work + "\\Empty.exe", work + "\\game_empty");

  std::printf("entry_mib %u\nreports %u\nposition_changes %u\n", unsigned(mib), reports, changes);
  Report("engine_noop_s", engine);
  Report("engine_ui_s", ui);
  Report("program_s", program);
  Report("program_empty_s", programEmpty);
  Report("send_floor_s", send);
  Report("unchanged_floor_s", unchanged);
  Report("repaint_floor_s", repaint);
  std::printf("runs_ok %d\n", engineOk && uiOk && programOk ? 1 : 0);
  return engineOk && uiOk && programOk ? 0 : 1;
}
