// Cost of logging a line, next to the two floors it is built from: a bare
// completion-port post, and formatting plus WriteFile on one thread.
//   log_bench <mode> [lines]
// modes: post-floor, write-floor, logger-1, logger-4, backlog
// Prints one line of key=value figures.
#include <windows.h>
#include <process.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "update/log/logger.h"
#include "update/log/work_queue.h"

namespace {

double g_tickSeconds;

int64_t Now() {
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  return count.QuadPart;
}

double Micros(int64_t ticks) { return ticks * g_tickSeconds * 1e6; }

// Per-call costs of one thread, in counter ticks.

void PrintCosts(std::vector<int64_t>& all) {
  if (all.empty()) return;
  std::sort(all.begin(), all.end());
  printf(" median_us=%.2f p99_us=%.2f", Micros(all[all.size() / 2]),
         Micros(all[all.size() * 99 / 100]));
}

const char kFormat[] = "bench line %d from thread %d: typical failure text of the updater";

unsigned __stdcall DrainPort(void* port) {
  for (;;) {
    DWORD bytes;
    ULONG_PTR key;
    OVERLAPPED* overlapped;
    GetQueuedCompletionStatus(static_cast<HANDLE>(port), &bytes, &key, &overlapped, INFINITE);
    if (key == WQ_QUIT) return 0;
  }
}

void PostFloor(int lines) {
  HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0);
  HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, DrainPort, port, 0, nullptr));
  std::vector<int64_t> costs;
  costs.reserve(lines);
  int64_t start = Now();
  for (int i = 0; i < lines; ++i) {
    int64_t before = Now();
    PostQueuedCompletionStatus(port, 0, 3, nullptr);
    costs.push_back(Now() - before);
  }
  PostQueuedCompletionStatus(port, 0, WQ_QUIT, nullptr);
  WaitForSingleObject(thread, INFINITE);
  int64_t end = Now();
  printf("mode=post-floor lines=%d lines_per_s=%.0f", lines, lines / (Micros(end - start) / 1e6));
  PrintCosts(costs);
  CloseHandle(thread);
  CloseHandle(port);
}

void WriteFloor(int lines) {
  HANDLE file = CreateFileA("floor.log", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  std::vector<int64_t> costs;
  costs.reserve(lines);
  int64_t start = Now();
  for (int i = 0; i < lines; ++i) {
    int64_t before = Now();
    SYSTEMTIME now;
    GetLocalTime(&now);
    char message[4096], line[4300];
    snprintf(message, sizeof(message), kFormat, i, 0);
    int length = snprintf(line, sizeof(line), "\r\n%04d-%02d-%02d %02d:%02d:%02d %s", now.wYear,
                          now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, message);
    DWORD written;
    WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    costs.push_back(Now() - before);
  }
  int64_t end = Now();
  printf("mode=write-floor lines=%d lines_per_s=%.0f", lines, lines / (Micros(end - start) / 1e6));
  PrintCosts(costs);
  CloseHandle(file);
}

// Logs `lines` per thread from `threads` threads through a fresh log, then
// ends it (which drains the queue). The console is switched off the way a
// windowed updater has none.
void ThroughLogger(int threads, int lines) {
  SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
  Logger* log = new Logger();
  std::vector<std::vector<int64_t>> costs(threads);
  int64_t start = Now();
  auto logLines = [log, lines, &costs](int t) {
    costs[t].reserve(lines);
    for (int i = 0; i < lines; ++i) {
      int64_t before = Now();
      log->Info(kFormat, i, t);
      costs[t].push_back(Now() - before);
    }
  };
  // One logging thread is the main thread itself: no extra thread to start.
  std::vector<std::thread> workers;
  for (int t = 1; t < threads; ++t) workers.emplace_back(logLines, t);
  logLines(0);
  for (auto& worker : workers) worker.join();
  int64_t posted = Now();
  delete log;
  int64_t drained = Now();
  std::vector<int64_t> all;
  for (auto& one : costs) all.insert(all.end(), one.begin(), one.end());
  int total = threads * lines;
  printf("mode=logger-%d lines=%d lines_per_s=%.0f post_ms=%.0f drain_ms=%.0f", threads, total,
         total / (Micros(drained - start) / 1e6), Micros(posted - start) / 1000,
         Micros(drained - posted) / 1000);
  PrintCosts(all);
}

// Logs from one thread at full rate for `seconds`, then times how long the
// queue takes to write what is still waiting.
void Backlog(int seconds) {
  SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
  Logger* log = new Logger();
  char path[LOG_PATH_SIZE];
  int64_t start = Now();
  int64_t stopAt = start + static_cast<int64_t>(seconds / g_tickSeconds);
  int lines = 0;
  while (Now() < stopAt) log->Info(kFormat, lines++, 0);
  int64_t posted = Now();
  snprintf(path, sizeof(path), "%s", log->MainFile().path);
  delete log;
  int64_t drained = Now();
  int written = 0;
  FILE* file = fopen(path, "rb");
  if (file) {
    int previous = 0, c;
    while ((c = fgetc(file)) != EOF) {
      if (previous == '\r' && c == '\n') ++written;
      previous = c;
    }
    fclose(file);
  }
  printf("mode=backlog seconds=%d lines=%d written=%d drain_ms=%.0f", seconds, lines, written,
         Micros(drained - posted) / 1000);
}

}  // namespace

int main(int argc, char** argv) {
  // A crash ends the run at once instead of waiting in a debugger.
  SetErrorMode(SEM_NOGPFAULTERRORBOX);
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  g_tickSeconds = 1.0 / frequency.QuadPart;
  const char* mode = argc > 1 ? argv[1] : "";
  int lines = argc > 2 ? atoi(argv[2]) : 20000;
  if (!strcmp(mode, "post-floor"))
    PostFloor(lines);
  else if (!strcmp(mode, "write-floor"))
    WriteFloor(lines);
  else if (!strcmp(mode, "logger-1"))
    ThroughLogger(1, lines);
  else if (!strcmp(mode, "logger-4"))
    ThroughLogger(4, lines / 4);
  else if (!strcmp(mode, "backlog"))
    Backlog(lines);
  else
    return 2;
  printf("\n");
  return 0;
}
