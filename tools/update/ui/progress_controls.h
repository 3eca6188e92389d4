// The handles of the dialog controls that progress reports write to, taken
// once per dialog. Under Wine a lookup by identifier (GetDlgItem, and
// SendDlgItemMessage inside) is a round trip to the wineserver, and a run
// reports every 4096 bytes; the controls never change while the dialog
// exists, so each report sends straight to the handles instead.
#pragma once

#include <windows.h>

struct ProgressControls {
  HWND dialog = nullptr;  // the window the handles were taken from
  HWND fileBar = nullptr;
  HWND totalBar = nullptr;  // null for the updater's dialog, whose template has none
  HWND status = nullptr;
};

// The controls of `dialog` by their identifiers; null for any it lacks (all
// of them for a null dialog).
ProgressControls LookUpProgressControls(HWND dialog);
