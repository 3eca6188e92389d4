#include "updater_log.h"

#include <algorithm>
#include <vector>

#include "file_helpers.h"
#include "whole_file.h"

std::string LogText(const UpdaterProcess& updater) {
  char current[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof current, current);
  const std::string dir = std::string(current) + "\\Log";
  // The files are named after the program's own file, whatever its name.
  const std::string& exe = updater.ExeName();
  const std::string stem = exe.substr(0, exe.rfind('.'));
  const std::string pattern = stem + "_" + std::to_string(updater.ProcessId()) + "_*";
  std::vector<std::string> names = ListFiles(dir, pattern.c_str());
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string& name : names) text += ReadWholeFile(dir + "\\" + name);
  return text;
}

bool Logged(const UpdaterProcess& updater, const std::string& text) {
  return LogText(updater).find(text) != std::string::npos;
}

bool WaitForLogLine(const UpdaterProcess& updater, const std::string& text, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < timeoutMs) {
    if (Logged(updater, text)) return true;
    if (updater.HasExited()) return Logged(updater, text);
    PollPause();
  }
  return false;
}
