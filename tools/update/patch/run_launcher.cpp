// Handing a game package to the game's own launcher: copy it into the
// temporary directory, leave it the dialog's handle in "launch.txt", start it
// hidden and wait for it to end.
#include <windows.h>
#include <shellapi.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "bounded_text.h"
#include "host_hooks.h"
#include "temp_path.h"
#include "update_session.h"
#include "win32_handle.h"

namespace {

// Failure texts of the hand-off are formatted into this many bytes.
constexpr size_t kLauncherTextSize = 1000;
// The launcher reads exactly this many bytes of "launch.txt".
constexpr size_t kLaunchTextSize = 30;

const char kLauncherName[] = "launch.exe";
const char kLaunchTextName[] = "launch.txt";
const char kLauncherSource[] = "/launch/launch.exe";
const char kParameterFormat[] = " x %s -o\"%s\" -r ";

const char kTextCopyFailed[] = "copy laucher %s %s %d";
const char kTextLaunchTextFailed[] = "laucher txt %s";
const char kTextShellFailed[] = "cmd %s %s";
const char kTextNoTempDir[] = "laucher temp %d";
const char kTextPathTooLong[] = "laucher path %s %s";
const char kTextWaitFailed[] = "wait laucher %s %d";

#ifndef _WIN64
static_assert(sizeof(SHELLEXECUTEINFOA) == 60, "the launch request is 60 bytes on 32-bit Windows");
#endif

// Shows the failure and gives the launcher's failure result.
int Fail(const char* format, ...) {
  char text[kLauncherTextSize];
  va_list args;
  va_start(args, format);
  FormatFittedV(text, sizeof text, format, args);
  va_end(args);
  ShowWarning(text);
  return 1;
}

bool ComposeLauncherTempPath(const char* name, char (&path)[UPDATE_PATH_SIZE], int* failure) {
  DWORD detail = 0;
  switch (ComposeTempPath(name, path, &detail)) {
    case TempPathResult::Ok:
      return true;
    case TempPathResult::NoTempDir:
      *failure = Fail(kTextNoTempDir, static_cast<int>(detail));
      return false;
    case TempPathResult::TooLong:
      *failure = Fail(kTextPathTooLong, "%TEMP%", name);
      return false;
  }
  return false;
}

// "launch.txt": the window handle as a signed decimal, then zero bytes up to 30.
bool WriteLaunchText(const char* path) {
  FileHandle file(std::fopen(path, "w+"));
  if (file.Get() == nullptr) return false;
  char record[kLaunchTextSize] = {};
  FormatFitted(record, sizeof record, "%d",
                static_cast<int>(reinterpret_cast<intptr_t>(GetOwnerWindow())));
  bool written = std::fwrite(record, 1, sizeof record, file.Get()) == sizeof record;
  return file.Close() && written;
}

}  // namespace

int UpdateSession::RunLauncher(const char* packagePath, const char* gameDirectory) {
  int failure = 1;
  char launcherPath[UPDATE_PATH_SIZE];
  if (!ComposeLauncherTempPath(kLauncherName, launcherPath, &failure)) return failure;

  char sourcePath[UPDATE_PATH_SIZE];
  if (!FormatFitted(sourcePath, sizeof sourcePath, "%s%s", gameDirectory, kLauncherSource)) {
    return Fail(kTextPathTooLong, gameDirectory, kLauncherSource);
  }
  if (!CopyFileA(sourcePath, launcherPath, FALSE)) {
    return Fail(kTextCopyFailed, sourcePath, launcherPath, static_cast<int>(GetLastError()));
  }

  char parameters[UPDATE_PATH_SIZE];
  if (!FormatFitted(parameters, sizeof parameters, kParameterFormat, packagePath, gameDirectory)) {
    return Fail(kTextPathTooLong, packagePath, gameDirectory);
  }

  char launchTextPath[UPDATE_PATH_SIZE];
  if (!ComposeLauncherTempPath(kLaunchTextName, launchTextPath, &failure)) return failure;
  if (!WriteLaunchText(launchTextPath)) return Fail(kTextLaunchTextFailed, launchTextPath);

  SHELLEXECUTEINFOA request;
  std::memset(&request, 0, sizeof request);
  request.cbSize = sizeof request;
  request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  request.hwnd = static_cast<HWND>(GetOwnerWindow());
  request.lpVerb = "open";
  request.lpFile = launcherPath;
  request.lpParameters = parameters;
  request.nShow = SW_HIDE;
  if (!ShellExecuteExA(&request)) return Fail(kTextShellFailed, launcherPath, parameters);

  // Without a process to wait for, the package may still be being applied
  // when the run goes on; that is a failure, not an endless or skipped wait.
  UniqueHandle process(request.hProcess);
  if (!process.IsValid()) return Fail(kTextWaitFailed, launcherPath, 0);
  if (WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0) {
    return Fail(kTextWaitFailed, launcherPath, static_cast<int>(GetLastError()));
  }
  // The launcher's exit code is not consulted: it has ended, so the package is in.
  return 0;
}
