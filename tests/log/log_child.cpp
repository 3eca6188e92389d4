// Child process of the lifetime tests; its mode is its first argument:
//   globals              log from main between the early global's two lines
//   threads <n> <lines>  n threads log <lines> lines each, then main returns
//   append <prefix> <w>  log "run <w>" into the file named by <prefix>
//   fault                a queue handler faults; the process must not go on
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <thread>
#include <vector>

#include "update/log/logger.h"
#include "update/log/work_queue.h"

namespace {

void LogLines(int thread, int count) {
  for (int i = 0; i < count; ++i) {
    std::string filler(1 + i % 97, static_cast<char>('a' + thread));
    g_Log.Info("thread %d line %d %s", thread, i, filler.c_str());
  }
}

int FaultingHandler(WorkItem* item) {
  volatile int* nowhere = reinterpret_cast<int*>(item->dataSize);
  *nowhere = 1;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A crash (the fault mode's, or any other) ends the child at once instead
  // of waiting in a debugger.
  SetErrorMode(SEM_NOGPFAULTERRORBOX);
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "globals") {
    g_Log.Info("main ran");
    return 0;
  }
  if (mode == "threads" && argc > 3) {
    // Line group 0 is logged by the main thread itself.
    std::vector<std::thread> threads;
    for (int t = 1; t < atoi(argv[2]); ++t) threads.emplace_back(LogLines, t, atoi(argv[3]));
    LogLines(0, atoi(argv[3]));
    for (auto& thread : threads) thread.join();
    return 0;
  }
  if (mode == "append" && argc > 3) {
    g_Log.Configure(argv[2], false, true, false, false);
    g_Log.Info("run %s", argv[3]);
    return 0;
  }
  if (mode == "fault") {
    WorkQueue queue(true);
    queue.Create(FaultingHandler, 1, "fault");
    queue.Post(1, malloc(1), 0, false, 3);
    Sleep(30000);
    printf("the process went on after the fault\n");
    return 3;
  }
  return 2;
}
