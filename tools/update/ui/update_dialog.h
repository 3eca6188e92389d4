// The updater's one dialog, IDD_UPDATE: start-up checks, the choice of the
// game directory, and the start of the worker.
#pragma once

#include <windows.h>

INT_PTR CALLBACK UpdateDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
