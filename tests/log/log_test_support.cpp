#include "log_test_support.h"

#include <stdio.h>

#include "file_helpers.h"

void ScratchFolderTest::SetUp() {
  GetCurrentDirectoryA(sizeof(previous), previous);
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  folder = std::string(previous) + "\\scratch_" + info->test_suite_name() + "_" + info->name();
  RemoveTree(folder);
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
}

void ScratchFolderTest::TearDown() { SetCurrentDirectoryA(previous); }

std::vector<std::string> SplitLogLines(const std::string& content) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    size_t end = content.find("\r\n", start);
    std::string piece =
        content.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (start != 0 || !piece.empty()) lines.push_back(piece);
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return lines;
}

SYSTEMTIME FakeClock::now;
int32_t FakeClock::seconds;

void FakeClock::Set(int year, int month, int day, int hour, int minute, int second) {
  SYSTEMTIME t = {};
  t.wYear = static_cast<WORD>(year);
  t.wMonth = static_cast<WORD>(month);
  t.wDay = static_cast<WORD>(day);
  t.wHour = static_cast<WORD>(hour);
  t.wMinute = static_cast<WORD>(minute);
  t.wSecond = static_cast<WORD>(second);
  now = t;
}

LogClock FakeClock::Get() {
  LogClock clock;
  clock.localTime = [](SYSTEMTIME* out) { *out = FakeClock::now; };
  clock.seconds = []() { return FakeClock::seconds; };
  return clock;
}

StdoutPipe::StdoutPipe() : previous(GetStdHandle(STD_OUTPUT_HANDLE)) {
  CreatePipe(readEnd.Receive(), writeEnd.Receive(), nullptr, 1 << 20);
  SetStdHandle(STD_OUTPUT_HANDLE, writeEnd.Get());
}

StdoutPipe::~StdoutPipe() { SetStdHandle(STD_OUTPUT_HANDLE, previous); }

std::string StdoutPipe::Drain() {
  std::string text;
  DWORD available = 0;
  while (PeekNamedPipe(readEnd.Get(), nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    std::vector<char> buffer(available);
    DWORD got = 0;
    if (!ReadFile(readEnd.Get(), buffer.data(), available, &got, nullptr) || got == 0) break;
    text.append(buffer.data(), got);
  }
  return text;
}

std::string BesideTestProgram(const std::string& name) {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof(self));
  std::string folder = self;
  return folder.substr(0, folder.find_last_of("\\/") + 1) + name;
}

ChildRun RunChild(const std::string& arguments, const std::string& name) {
  std::string program = BesideTestProgram(name);
  std::string command = "\"" + program + "\" " + arguments;
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  ChildRun run = {static_cast<DWORD>(-1), 0};
  if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    ADD_FAILURE() << "cannot start " << command << ": " << GetLastError();
    return run;
  }
  UniqueHandle child(process.hProcess);
  UniqueHandle thread(process.hThread);
  run.processId = process.dwProcessId;
  if (WaitForSingleObject(child.Get(), 300000) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "child did not end: " << command;
    TerminateProcess(child.Get(), 1);
  }
  GetExitCodeProcess(child.Get(), &run.exitCode);
  return run;
}

std::string FindLogFile(const std::string& prefix, const char* extension) {
  std::vector<std::string> names = ListFiles("Log", (prefix + "*." + extension).c_str());
  return names.size() == 1 ? "Log/" + names[0] : "";
}

std::string DateSuffix(const SYSTEMTIME& day) {
  char text[32];
  snprintf(text, sizeof(text), "%d%02d%02d", day.wYear, day.wMonth, day.wDay);
  return text;
}
