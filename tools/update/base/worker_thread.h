// A second thread that a long computation may hand part of its work to. The
// portable code knows no thread library: each program gives it one (the
// updater the system's own threads, the native tools the standard library's)
// or none, and then the work runs on the caller's thread alone.
#pragma once

class WorkerThread {
 public:
  using Task = void (*)(void* context);

  virtual ~WorkerThread() = default;
  // Starts task(context) on the thread. False when no thread could start:
  // the caller then does the work itself.
  virtual bool Start(Task task, void* context) = 0;
  // Returns once the task Start started has returned; at once when none runs.
  virtual void Wait() = 0;
};

// No thread at all: the task runs at once, on the caller's thread. The work
// takes the same steps as with a real worker, in an order fixed in advance
// (the tests and fuzzers that compare the two ways use it).
class InlineWorkerThread : public WorkerThread {
 public:
  bool Start(Task task, void* context) override {
    task(context);
    return true;
  }
  void Wait() override {}
};
