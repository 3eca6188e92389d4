#include "update/files/win32_worker_thread.h"

#include <process.h>

unsigned __stdcall Win32WorkerThread::Run(void* self) {
  const auto* worker = static_cast<const Win32WorkerThread*>(self);
  worker->task_(worker->context_);
  return 0;
}

bool Win32WorkerThread::Start(Task task, void* context) {
  Wait();
  task_ = task;
  context_ = context;
  // The C runtime's own start, so that the task may use the runtime freely.
  const uintptr_t thread = _beginthreadex(nullptr, 0, Run, this, 0, nullptr);
  if (thread == 0) return false;
  thread_.Reset(reinterpret_cast<HANDLE>(thread));
  return true;
}

void Win32WorkerThread::Wait() {
  if (!thread_) return;
  WaitForSingleObject(thread_.Get(), INFINITE);
  thread_.Reset();
}
