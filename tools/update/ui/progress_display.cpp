#include "progress_display.h"

#include <windows.h>
#include <commctrl.h>

#include "globals.h"
#include "progress.h"
#include "resource.h"

bool ProgressPositionFor(uint32_t code, uint32_t a, uint32_t b, uint32_t* position) {
  switch (code) {
    case PG_PERCENT:
      // Nothing of an empty total is left to do, and dividing by it would fault.
      *position = b == 0 ? 100 : (a * 100u) / b;
      return true;
    case PG_EXTRACT_BYTES: {
      if (b == 0) {
        *position = 100;
        return true;
      }
      // Widened before the multiplication: entries past 42 MB would
      // overflow 32 bits and show a bar that jumps back.
      uint64_t done = static_cast<uint32_t>(b - a);
      *position = static_cast<uint32_t>(done * 100u / b);
      return true;
    }
    case PG_EXTRACT_BEGIN:
    case PG_INSTALL_BEGIN:
      *position = 0;
      return true;
    case PG_EXTRACT_END:
    case PG_INSTALL_END:
      *position = 100;
      return true;
    default:
      return false;
  }
}

void OnUpdateProgress(uint32_t /*userValue*/, uint32_t code, uint32_t a, uint32_t b) {
  uint32_t position = 0;
  if (!ProgressPositionFor(code, a, b, &position)) return;
  if (code == PG_EXTRACT_BEGIN) {
    SetDlgItemTextA(g_hMainDlg, IDC_STATUS, "正在提取文件");
  } else if (code == PG_INSTALL_BEGIN) {
    SetDlgItemTextA(g_hMainDlg, IDC_STATUS, "正在加入文件");
  }
  SetProgressPos(IDC_PROGRESS_FILE, static_cast<int>(position));
}

int SetProgressPos(int controlId, int position) {
  if (controlId != IDC_PROGRESS_FILE && controlId != IDC_PROGRESS_TOTAL) return 0;
  SendDlgItemMessageA(g_hMainDlg, controlId, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  // Sent messages do not paint; without this the bar would only catch up
  // when the dialog thread next runs out of input.
  UpdateWindow(GetDlgItem(g_hMainDlg, controlId));
  return 0;
}
