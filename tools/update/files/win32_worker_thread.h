// The updater's worker thread: one the system starts, waited for by its handle.
#pragma once

#include "update/base/worker_thread.h"
#include "update/files/win32_handle.h"

class Win32WorkerThread : public WorkerThread {
 public:
  Win32WorkerThread() = default;
  Win32WorkerThread(const Win32WorkerThread&) = delete;
  Win32WorkerThread& operator=(const Win32WorkerThread&) = delete;
  ~Win32WorkerThread() override { Wait(); }

  bool Start(Task task, void* context) override;
  void Wait() override;

 private:
  static unsigned __stdcall Run(void* self);

  UniqueHandle thread_;
  Task task_ = nullptr;
  void* context_ = nullptr;
};
