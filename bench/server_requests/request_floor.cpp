// The least an update run can ask of the wineserver per 4096-byte chunk, as
// the design has it: the chunk copied with ReadFile and WriteFile, its
// position sent to a progress bar owned by another thread (PBM_SETPOS, a
// synchronous SendMessage), and that bar updated at once (UpdateWindow).
// Nothing else: no dialog, no lookups, no engine.
//
//   request_floor.exe SOURCE TARGET
//
// The main thread owns a hidden popup with the bar and dispatches messages
// until the copying thread ends, as the updater's dialog thread does.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>

namespace {

constexpr DWORD kChunk = 4096;

struct Copy {
  const char* source;
  const char* target;
  HWND bar;
  bool ok;
};

DWORD WINAPI CopyWithProgress(LPVOID parameter) {
  Copy& copy = *static_cast<Copy*>(parameter);
  HANDLE in =
      CreateFileA(copy.source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE out = CreateFileA(copy.target, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           CREATE_ALWAYS, 0, nullptr);
  LARGE_INTEGER size = {};
  copy.ok = in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && GetFileSizeEx(in, &size);
  unsigned char buffer[kChunk];
  for (LONGLONG done = 0; copy.ok && done < size.QuadPart;) {
    DWORD got = 0;
    DWORD written = 0;
    copy.ok = ReadFile(in, buffer, kChunk, &got, nullptr) && got != 0 &&
              WriteFile(out, buffer, got, &written, nullptr) && written == got;
    done += got;
    SendMessageA(copy.bar, PBM_SETPOS, static_cast<WPARAM>(done * 100 / size.QuadPart), 0);
    UpdateWindow(copy.bar);
  }
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (__argc != 3) return 2;
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  HWND window = CreateWindowExA(0, "STATIC", "floor", WS_POPUP, 0, 0, 400, 60, nullptr, nullptr,
                                nullptr, nullptr);
  HWND bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 10, 20, 380, 20, window,
                             nullptr, nullptr, nullptr);
  SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(1, 100));

  Copy copy = {__argv[1], __argv[2], bar, false};
  HANDLE thread = CreateThread(nullptr, 0, CopyWithProgress, &copy, 0, nullptr);
  if (thread == nullptr) return 1;
  while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  }
  CloseHandle(thread);
  DestroyWindow(window);
  return copy.ok ? 0 : 1;
}
