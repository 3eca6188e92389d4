// The thread that carries out one update run and then ends the program.
#pragma once

#include <windows.h>

// Posted by the worker to the dialog when its run is over; wParam is the
// RunOutcome, with which the dialog ends.
constexpr UINT WM_UPDATE_RUN_ENDED = WM_APP + 1;

// Thread procedure; the parameter is the dialog window. Returns 1 when a run
// was already under way (and does nothing else), 0 after a run.
DWORD WINAPI UpdateWorkerProc(LPVOID dialogWindow);

// Starts UpdateWorkerProc for `dialog` and keeps its handle in
// g_hWorkerThread (closing the handle of an earlier, finished start).
void StartUpdateWorker(HWND dialog);

// True while a worker started here may still be inside a run: the run's claim
// is held, or the last worker started has not finished yet.
bool IsUpdateRunUnderWay();
