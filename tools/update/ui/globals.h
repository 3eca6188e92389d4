// Process-wide values of the user interface, zero at start. The dialog sets
// them; the worker reads g_hMainDlg, and the launcher hand-off gets it through
// the owner window that the program's entry registers with the engine.
#pragma once

#include <windows.h>

#include <atomic>

#include "update/ui/progress_controls.h"

extern HINSTANCE g_hInstance;
extern HWND g_hMainDlg;
// Taken from g_hMainDlg when the dialog sets it, for the progress display;
// a report for another window (or none) looks its controls up itself.
extern ProgressControls g_progressControls;
extern HANDLE g_hWorkerThread;
extern HANDLE g_hStopEvent;
// Claimed by one worker at a time with an atomic test-and-set.
extern std::atomic<bool> g_bUpdating;
