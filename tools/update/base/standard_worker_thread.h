// The worker thread of the native tools, benchmarks and tests: the standard
// library's. The updater does not use it (it would pull a thread library of
// its own into the executable); it has Win32WorkerThread.
#pragma once

#include <exception>
#include <thread>

#include "update/base/worker_thread.h"

class StandardWorkerThread : public WorkerThread {
 public:
  ~StandardWorkerThread() override { Wait(); }

  bool Start(Task task, void* context) override {
    Wait();
    try {
      thread_ = std::thread(task, context);
    } catch (const std::exception&) {
      return false;
    }
    return true;
  }

  void Wait() override {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};
