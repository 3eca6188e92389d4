// Child program for the single-instance test. "probe": exit code 1 when
// another updater holds the mutex, else 0. "hold <ready> <release>": takes the
// mutex like a running updater, signals the named event <ready>, and keeps the
// mutex until the named event <release> is signalled.
#include <windows.h>

#include <cstring>

#include "update/files/win32_handle.h"
#include "update/session/update_session.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "probe") == 0) {
    return g_UpdateSession.IsAnotherInstanceRunning() ? 1 : 0;
  }
  if (argc == 4 && std::strcmp(argv[1], "hold") == 0) {
    if (g_UpdateSession.IsAnotherInstanceRunning()) return 3;
    UniqueHandle ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]));
    UniqueHandle release(OpenEventA(SYNCHRONIZE, FALSE, argv[3]));
    if (!ready.IsValid() || !release.IsValid()) return 4;
    SetEvent(ready.Get());
    WaitForSingleObject(release.Get(), 60000);
    return 0;
  }
  return 2;
}
