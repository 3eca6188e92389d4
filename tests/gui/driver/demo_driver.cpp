// Runs Update.exe in interactive mode for the demo and pauses at a moment
// worth a screenshot: the update button pressed, an entry half extracted.
//
//   update_demo_driver.exe UPDATE_EXE READY_FILE DONE_FILE REPORT_FILE
//
// Writes READY_FILE when the dialog shows a run in progress, then waits for
// DONE_FILE (the screenshot is taken meanwhile), answers the outcome box and
// waits for the program to end. REPORT_FILE receives what was seen, in the
// program's code page. Exit code 0 when the run reported success.
#include <windows.h>

#include <cstdio>
#include <string>

#include "test_files.h"
#include "updater_driver.h"

namespace {

constexpr DWORD kTimeoutMs = 300000;

bool WaitForFile(const std::string& path, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < timeoutMs) {
    if (FileExists(path)) return true;
    PollPause();
  }
  return false;
}

std::string Describe(const DialogSnapshot& seen) {
  return "title=" + seen.title + "\r\ndir=" + seen.dirText + "\r\nstatus=" + seen.statusText +
         "\r\nprogress=" + std::to_string(seen.progressPos) + " of " +
         std::to_string(seen.rangeLow) + ".." + std::to_string(seen.rangeHigh) + "\r\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: update_demo_driver UPDATE_EXE READY_FILE DONE_FILE REPORT_FILE\n");
    return 2;
  }
  const std::string updaterPath = argv[1], ready = argv[2], done = argv[3], reportPath = argv[4];
  std::string report;

  UpdaterProcess updater;
  if (!updater.Start(updaterPath, "")) return 1;
  DialogSnapshot seen;
  if (!updater.WaitForVisibleDialog(kTimeoutMs, &seen)) return 1;
  report += "[before]\r\n" + Describe(seen);

  updater.ClickUpdate();
  // Half way through extracting an entry; any run in progress will do if the
  // extraction passes too quickly to be caught.
  bool halfWay = updater.WaitForDialogState(
      kTimeoutMs,
      [](const DialogSnapshot& s) {
        return s.statusText == "正在提取文件" && s.progressPos >= 20 && s.progressPos <= 80;
      },
      &seen);
  if (!halfWay)
    updater.WaitForDialogState(
        kTimeoutMs, [](const DialogSnapshot& s) { return !s.statusText.empty(); }, &seen);
  report += "[during]\r\n" + Describe(seen);
  WriteWholeFile(ready, Describe(seen));
  WaitForFile(done, kTimeoutMs);

  UpdaterOutcome outcome = updater.RunToEnd(kTimeoutMs);
  bool succeeded = false;
  for (const SeenMessageBox& box : outcome.boxes) {
    report += "[box]\r\n" + box.caption + ": " + box.text + "\r\n";
    succeeded = succeeded || box.text == "更新补丁文件完成!!";
  }
  report += outcome.exited ? "[ended]\r\n" : "[still running]\r\n";
  WriteWholeFile(reportPath, report);
  return succeeded && outcome.exited ? 0 : 1;
}
