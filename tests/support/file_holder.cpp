#include "file_holder.h"

namespace {

// Wine under emulation starts a process slowly; this only bounds a hang.
const DWORD kStartBoundMs = 120000;

}  // namespace

bool FileHolder::Hold(const std::string& path) {
  static int count = 0;
  const std::string name =
      "update_file_holder_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++count);
  held_.Reset(CreateEventA(nullptr, TRUE, FALSE, (name + "_held").c_str()));
  release_.Reset(CreateEventA(nullptr, TRUE, FALSE, (name + "_release").c_str()));
  if (!held_ || !release_) return false;
  std::string command = "\"" + holderExe_ + "\" \"" + path + "\" " + name;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  process_.Reset(info.hProcess);
  HANDLE either[] = {held_.Get(), process_.Get()};
  return WaitForMultipleObjects(2, either, FALSE, kStartBoundMs) == WAIT_OBJECT_0;
}

void FileHolder::Release() {
  if (!process_) return;
  SetEvent(release_.Get());
  WaitForSingleObject(process_.Get(), kStartBoundMs);
  process_.Close();
}
