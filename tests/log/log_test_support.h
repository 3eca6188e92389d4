// Shared pieces of the log tests: a scratch folder per test, file reading,
// a settable clock, standard output redirected into a pipe, child runs.
#pragma once

#include <windows.h>
#include <stdint.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "file_helpers.h"
#include "update/files/win32_handle.h"
#include "update/log/log_clock.h"

// Runs each test inside an empty folder of its own, so "Log/" and the day's
// files start absent.
class ScratchFolderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string folder;

 private:
  char previous[MAX_PATH];
};

// The file's lines, split at "\r\n"; the first (empty) piece is dropped.
std::vector<std::string> SplitLogLines(const std::string& content);

// A clock the test moves by hand.
struct FakeClock {
  static SYSTEMTIME now;
  static int32_t seconds;
  static void Set(int year, int month, int day, int hour, int minute, int second);
  static LogClock Get();
};

// Standard output swapped for a pipe while it lives; Drain returns what was
// written so far.
class StdoutPipe {
 public:
  StdoutPipe();
  ~StdoutPipe();
  std::string Drain();

 private:
  UniqueHandle readEnd;
  UniqueHandle writeEnd;
  HANDLE previous;  // the process's, not ours to close
};

struct ChildRun {
  DWORD exitCode;
  DWORD processId;
};
// The path of `name` in the test program's folder.
std::string BesideTestProgram(const std::string& name);
// Starts log_child.exe, or a copy of it called `name`, (next to the test
// program) with `arguments` in the current folder and waits for it to end.
ChildRun RunChild(const std::string& arguments, const std::string& name = "log_child.exe");
// The one file matching Log/<prefix>*.<extension>, or "" when there is none.
std::string FindLogFile(const std::string& prefix, const char* extension = "log");
std::string DateSuffix(const SYSTEMTIME& day);
