#include "update/ui/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "update/files/win32_handle.h"

CommandLineDir ReadCommandLineDir(const char* commandLine, char* dir, size_t dirSize) {
  if (dirSize > 0) dir[0] = '\0';
  if (!commandLine || !*commandLine) return CommandLineDir::None;

  int wideLength = MultiByteToWideChar(CP_THREAD_ACP, 0, commandLine, -1, nullptr, 0);
  if (wideLength <= 0) return CommandLineDir::None;
  std::vector<wchar_t> wide(static_cast<size_t>(wideLength));
  MultiByteToWideChar(CP_THREAD_ACP, 0, commandLine, -1, wide.data(), wideLength);

  int argc = 0;
  UniqueLocalArgv argv(CommandLineToArgvW(wide.data(), &argc));
  if (!argv.Get() || argc < 2) return CommandLineDir::None;

  // Measured first: a cut path would name some other directory.
  int needed =
      WideCharToMultiByte(CP_THREAD_ACP, 0, argv.Get()[1], -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0 || static_cast<size_t>(needed) > dirSize) return CommandLineDir::TooLong;
  WideCharToMultiByte(CP_THREAD_ACP, 0, argv.Get()[1], -1, dir, needed, nullptr, nullptr);
  return CommandLineDir::Stored;
}
