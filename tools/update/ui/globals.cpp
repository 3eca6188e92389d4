#include "update/ui/globals.h"

HINSTANCE g_hInstance = nullptr;
HWND g_hMainDlg = nullptr;
ProgressControls g_progressControls;
HANDLE g_hWorkerThread = nullptr;
HANDLE g_hStopEvent = nullptr;
std::atomic<bool> g_bUpdating{false};
