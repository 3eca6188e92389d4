#include "update/ui/progress_controls.h"

#include "update/ui/resource.h"

ProgressControls LookUpProgressControls(HWND dialog) {
  ProgressControls controls;
  controls.dialog = dialog;
  if (dialog == nullptr) return controls;
  controls.fileBar = GetDlgItem(dialog, IDC_PROGRESS_FILE);
  controls.totalBar = GetDlgItem(dialog, IDC_PROGRESS_TOTAL);
  controls.status = GetDlgItem(dialog, IDC_STATUS);
  return controls;
}
