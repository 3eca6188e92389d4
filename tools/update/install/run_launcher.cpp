// Handing a game package to the game's own launcher: copy it into the
// temporary directory, leave it the dialog's handle in "launch.txt", start it
// hidden and wait for it to end.
#include <windows.h>
#include <shellapi.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "update/base/bounded_format.h"
#include "update/files/file_retry.h"
#include "update/files/win32_handle.h"
#include "update/session/host_hooks.h"
#include "update/session/temp_path.h"
#include "update/session/update_session.h"

namespace {

// Failure texts of the hand-off are formatted into this many bytes.
constexpr size_t kLauncherTextSize = 1000;
// The launcher reads exactly this many bytes of "launch.txt".
constexpr size_t kLaunchTextSize = 30;

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
int Fail(const char* format, ...) PRINTF_CHECK(1, 2);
int Fail(const char* format, ...) {
  char text[kLauncherTextSize];
  va_list args;
  va_start(args, format);
  FormatFittedV(text, sizeof text, format, args);
  va_end(args);
  ShowWarning(text);
  return LAUNCHER_FAILED;
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

// The launcher's copy and "launch.txt" are removed once the hand-off is over,
// whichever way it ended, but only once this run has written them: a file it
// could not replace (a launcher still running from an earlier run, say) is
// not its own.
class HandOffFiles {
 public:
  HandOffFiles() = default;
  ~HandOffFiles() {
    if (launchText_[0] != '\0') (void)RetryingDeleteFile(launchText_);
    if (launcher_[0] != '\0') RemoveEndedLauncher(launcher_);
  }
  HandOffFiles(const HandOffFiles&) = delete;
  HandOffFiles& operator=(const HandOffFiles&) = delete;
  void OwnLauncher(const char* path) { FormatFitted(launcher_, sizeof launcher_, "%s", path); }
  void OwnLaunchText(const char* path) {
    FormatFitted(launchText_, sizeof launchText_, "%s", path);
  }

 private:
  // The system may hold the program's file for a moment after its process
  // has ended; the wait is bounded, and a copy that stays is overwritten and
  // removed by the next hand-off.
  static void RemoveEndedLauncher(const char* path) { (void)RetryingForceDeleteFile(path); }

  char launcher_[UPDATE_PATH_SIZE] = {};
  char launchText_[UPDATE_PATH_SIZE] = {};
};

// "launch.txt": the window handle as a signed decimal, then zero bytes up to 30.
bool WriteLaunchText(const char* path) {
  UniqueHandle file;
  if (!RetryingCreateFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS, 0, &file)) return false;
  char record[kLaunchTextSize] = {};
  FormatFitted(record, sizeof record, "%d",
               static_cast<int>(reinterpret_cast<intptr_t>(GetOwnerWindow())));
  DWORD written = 0;
  const bool whole = WriteFile(file.Get(), record, sizeof record, &written, nullptr) != FALSE &&
                     written == sizeof record;
  return file.Close() && whole;
}

}  // namespace

int UpdateSession::RunLauncher(const char* packagePath, const char* gameDirectory) {
  int failure = LAUNCHER_FAILED;
  char launcherPath[UPDATE_PATH_SIZE];
  if (!ComposeLauncherTempPath(GAME_LAUNCHER_NAME, launcherPath, &failure)) return failure;

  char sourcePath[UPDATE_PATH_SIZE];
  if (!FormatFitted(sourcePath, sizeof sourcePath, "%s%s", gameDirectory, GAME_LAUNCHER_PATH)) {
    return Fail(kTextPathTooLong, gameDirectory, GAME_LAUNCHER_PATH);
  }
  HandOffFiles handOff;
  // A freshly written program: the file scanners most like to open.
  const SystemResult copied = RetryingCopyFile(sourcePath, launcherPath, false);
  if (!copied) {
    return Fail(kTextCopyFailed, sourcePath, launcherPath, static_cast<int>(copied.Error()));
  }
  handOff.OwnLauncher(launcherPath);

  char parameters[UPDATE_PATH_SIZE];
  if (!FormatFitted(parameters, sizeof parameters, kParameterFormat, packagePath, gameDirectory)) {
    return Fail(kTextPathTooLong, packagePath, gameDirectory);
  }

  char launchTextPath[UPDATE_PATH_SIZE];
  if (!ComposeLauncherTempPath(LAUNCHER_TEXT_NAME, launchTextPath, &failure)) return failure;
  if (!WriteLaunchText(launchTextPath)) return Fail(kTextLaunchTextFailed, launchTextPath);
  handOff.OwnLaunchText(launchTextPath);

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
  return LAUNCHER_ENDED;
}
