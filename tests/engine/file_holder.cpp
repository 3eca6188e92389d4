// Holds one file open without sharing, as a virus scanner or sync client
// does, until the test lets go:  file_holder <path> <event name>
// Opens <path>, sets the event "<name>_held", waits for "<name>_release"
// (both made by the test), then closes the file and ends. Exit code 0 once
// it held and let go, 1 when it could not open the file, 2 for bad arguments.
#include <windows.h>

#include <string>

#include "update/files/win32_handle.h"

namespace {

// A test that died must not leave the file held for ever.
const DWORD kLongestHoldMs = 10 * 60 * 1000;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string name = argv[2];
  UniqueHandle held(OpenEventA(EVENT_MODIFY_STATE, FALSE, (name + "_held").c_str()));
  UniqueHandle release(OpenEventA(SYNCHRONIZE, FALSE, (name + "_release").c_str()));
  if (!held || !release) return 2;
  UniqueHandle file(CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 1;
  SetEvent(held.Get());
  WaitForSingleObject(release.Get(), kLongestHoldMs);
  return 0;
}
