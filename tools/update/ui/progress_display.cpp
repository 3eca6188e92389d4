#include "update/ui/progress_display.h"

#include <windows.h>
#include <commctrl.h>

#include "update/session/progress.h"
#include "update/ui/globals.h"
#include "update/ui/resource.h"

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

namespace {

// The controls of g_hMainDlg. Those the dialog took when it set itself up
// cost nothing; any other window (a stand-in, or none) is looked up here, as
// each report did before.
ProgressControls CurrentControls() {
  if (g_progressControls.dialog == g_hMainDlg) return g_progressControls;
  return LookUpProgressControls(g_hMainDlg);
}

HWND BarOf(const ProgressControls& controls, int controlId) {
  return controlId == IDC_PROGRESS_FILE ? controls.fileBar : controls.totalBar;
}

// WM_SETTEXT, as SetDlgItemText sends it. A control the window lacks gets
// nothing, as SendDlgItemMessage sends nothing then.
void SendStatus(HWND status, const char* text) {
  if (status != nullptr) SendMessageA(status, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void MoveBar(HWND bar, int position) {
  if (bar == nullptr) return;
  SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  // Sent messages do not paint; without this the bar would only catch up
  // when the dialog thread next runs out of input.
  UpdateWindow(bar);
}

}  // namespace

void OnUpdateProgress(uint32_t /*userValue*/, uint32_t code, uint32_t a, uint32_t b) {
  uint32_t position = 0;
  if (!ProgressPositionFor(code, a, b, &position)) return;
  const ProgressControls controls = CurrentControls();
  if (code == PG_EXTRACT_BEGIN) {
    SendStatus(controls.status, "正在提取文件");
  } else if (code == PG_INSTALL_BEGIN) {
    SendStatus(controls.status, "正在加入文件");
  }
  MoveBar(controls.fileBar, static_cast<int>(position));
}

int SetProgressPos(int controlId, int position) {
  if (controlId != IDC_PROGRESS_FILE && controlId != IDC_PROGRESS_TOTAL) return 0;
  MoveBar(BarOf(CurrentControls(), controlId), position);
  return 0;
}
