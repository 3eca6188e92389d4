// Background work on threads that wait on an I/O completion port. No file
// handle is ever bound to the port: the overlapped pointer of each packet is
// a WorkItem made by Post.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include <atomic>

enum : uint32_t {
  WQ_PROBE = 0,  // reports how long the item waited; the handler is not called
  WQ_QUIT = 7,   // reserved for Stop: the thread that takes it ends
};

// The most threads Stop can wait for with one multiple-object wait.
const int WQ_MAX_THREADS = MAXIMUM_WAIT_OBJECTS;

struct WorkItem {
  int32_t id;
  uint32_t key;
  uint32_t dataSize;  // for WQ_PROBE: the tick count when it was posted
  void* data;         // a block from the queue's allocator, owned by the queue
};

// Reads the item; the queue frees the item and its data afterwards.
typedef int (*WorkHandler)(WorkItem* item);

// Replaceable services, so tests can count allocations, steer the probe's
// clock and capture the queue's own messages. Null members keep the default
// (malloc/free, GetTickCount, printf or g_Log as reportToConsole says).
struct WorkQueueHooks {
  void* (*allocate)(size_t size);
  void (*release)(void* block);
  DWORD (*tickCount)();
  void (*report)(int level, const char* text);
};

class WorkQueue {
 public:
  explicit WorkQueue(bool reportToConsole);
  ~WorkQueue();

  // Only before Create; threads copy the hooks when they start.
  void SetHooks(const WorkQueueHooks& hooks);

  bool Create(WorkHandler handler, int threadCount, const char* name);
  // With copy false the queue owns `data` from this call on, even when the
  // post is refused. With copy true the caller keeps its buffer.
  bool Post(int32_t id, void* data, uint32_t size, bool copy, uint32_t key);
  // True when every thread ended within the wait.
  bool Stop();
  // How long Stop waits for the threads (10 s unless a test shortens it).
  void SetStopWait(DWORD milliseconds);

  bool IsStopped() const { return stopped; }
  const char* Name() const { return queueName; }

  WorkQueue(const WorkQueue&) = delete;
  WorkQueue& operator=(const WorkQueue&) = delete;

 private:
  void Report(int level, const char* text) const;
  void Release(void* block) const;

  HANDLE port;
  HANDLE* threads;
  int threadCount;
  WorkHandler handler;
  // Read by Post on any thread without a lock; only ever a yes/no gate.
  std::atomic<bool> stopped;
  bool reportToConsole;
  char queueName[64];
  DWORD stopWaitMs;
  WorkQueueHooks hooks;
};
