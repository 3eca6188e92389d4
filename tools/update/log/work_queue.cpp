#include "update/log/work_queue.h"

#include <process.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "update/base/bounded_format.h"
#include "update/log/logger.h"
#include "update/log/seh_exception.h"

namespace {

const DWORD kStopWaitMs = 10000;
const int kMessageSize = 128;

void* DefaultAllocate(size_t size) { return malloc(size); }
void DefaultRelease(void* block) { free(block); }
DWORD DefaultTickCount() { return GetTickCount(); }

WorkQueueHooks WithDefaults(const WorkQueueHooks& given) {
  WorkQueueHooks hooks = given;
  if (!hooks.allocate) hooks.allocate = DefaultAllocate;
  if (!hooks.release) hooks.release = DefaultRelease;
  if (!hooks.tickCount) hooks.tickCount = DefaultTickCount;
  return hooks;
}

void ReportMessage(const WorkQueueHooks& hooks, bool reportToConsole, int level, const char* text) {
  if (hooks.report) {
    hooks.report(level, text);
  } else if (reportToConsole) {
    // The texts as they are, without a line end: on the console one message
    // runs into the next, as it always has.
    fputs(text, stdout);
  } else {
    g_Log.Log(level, text);
  }
}

// What one worker thread needs, copied for it alone: the queue object may be
// gone while a thread that outlived Stop's wait still finishes its work.
struct WorkerContext {
  HANDLE port;
  WorkHandler handler;
  bool reportToConsole;
  char queueName[64];
  WorkQueueHooks hooks;
};

unsigned RunWorker(const WorkerContext& context) {
  char message[kMessageSize];
  for (;;) {
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* overlapped = nullptr;
    if (!GetQueuedCompletionStatus(context.port, &bytes, &key, &overlapped, INFINITE)) {
      DWORD error = GetLastError();
      FormatText(message, sizeof(message), "workqueue GetQueuedCompletionStatus err=%d",
                 static_cast<int>(error));
      ReportMessage(context.hooks, context.reportToConsole, LOG_ERROR, message);
      // A closed port fails every wait at once; waiting again would spin.
      if (error == ERROR_ABANDONED_WAIT_0 || error == ERROR_INVALID_HANDLE) return error;
      continue;
    }
    if (key == WQ_QUIT) {
      ReportMessage(context.hooks, context.reportToConsole, LOG_INFO,
                    "handle WQ_QUIT,workQueue exit");
      return 0;
    }
    WorkItem* item = reinterpret_cast<WorkItem*>(overlapped);
    if (!item) {
      DWORD error = GetLastError();
      FormatText(message, sizeof(message), "work Queue GetQueuedCompletionStatus fail err=%d",
                 static_cast<int>(error));
      ReportMessage(context.hooks, context.reportToConsole, LOG_ERROR, message);
      return error;
    }
    if (key == WQ_PROBE) {
      // Unsigned difference: correct across the tick counter's wrap.
      DWORD waited = context.hooks.tickCount() - item->dataSize;
      if (waited != 0) {
        FormatText(message, sizeof(message), "Id=%d [%s] 处理速度 %d tick", item->id,
                   context.queueName, static_cast<int>(waited));
        ReportMessage(context.hooks, context.reportToConsole, LOG_INFO, message);
      }
    } else {
      context.handler(item);
    }
    context.hooks.release(item->data);
    context.hooks.release(item);
  }
}

unsigned __stdcall ThreadProc(void* argument) {
  WorkerContext* context = static_cast<WorkerContext*>(argument);
  InstallSehTranslator();
  unsigned exitCode = RunWorker(*context);
  delete context;
  return exitCode;
}

}  // namespace

WorkQueue::WorkQueue(bool reportToConsole)
    : port(nullptr),
      threads(nullptr),
      threadCount(0),
      handler(nullptr),
      stopped(true),
      reportToConsole(reportToConsole),
      stopWaitMs(kStopWaitMs) {
  queueName[0] = '\0';
  hooks = WithDefaults(WorkQueueHooks());
}

WorkQueue::~WorkQueue() {
  if (!stopped) Stop();
}

void WorkQueue::SetHooks(const WorkQueueHooks& given) { hooks = WithDefaults(given); }

void WorkQueue::SetStopWait(DWORD milliseconds) { stopWaitMs = milliseconds; }

void WorkQueue::Report(int level, const char* text) const {
  ReportMessage(hooks, reportToConsole, level, text);
}

void WorkQueue::Release(void* block) const { hooks.release(block); }

bool WorkQueue::Create(WorkHandler newHandler, int count, const char* name) {
  CopyText(queueName, sizeof(queueName), name ? name : "");
  handler = newHandler;
  if (!handler || port) return false;
  if (count < 1 || count > WQ_MAX_THREADS) return false;

  port =
      CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, reinterpret_cast<ULONG_PTR>(this), 0);
  if (!port) {
    char message[kMessageSize];
    FormatText(message, sizeof(message), "workQueue [%s] create fail", queueName);
    Report(LOG_ERROR, message);
    return false;
  }
  threads = new (std::nothrow) HANDLE[count];
  if (!threads) {
    CloseHandle(port);
    port = nullptr;
    return false;
  }
  // Only threads that really started are counted: Stop waits on these
  // handles, and a queue with no thread at all would swallow every item.
  threadCount = 0;
  for (int i = 0; i < count; ++i) {
    WorkerContext* context = new (std::nothrow) WorkerContext;
    if (!context) break;
    context->port = port;
    context->handler = handler;
    context->reportToConsole = reportToConsole;
    CopyText(context->queueName, sizeof(context->queueName), queueName);
    context->hooks = hooks;
    uintptr_t thread = _beginthreadex(nullptr, 0, ThreadProc, context, 0, nullptr);
    if (thread == 0) {
      delete context;
      break;
    }
    threads[threadCount++] = reinterpret_cast<HANDLE>(thread);
  }
  if (threadCount == 0) {
    delete[] threads;
    threads = nullptr;
    CloseHandle(port);
    port = nullptr;
    return false;
  }
  stopped = false;
  return true;
}

bool WorkQueue::Post(int32_t id, void* data, uint32_t size, bool copy, uint32_t key) {
  // Key 7 is Stop's; an item posted with it would end a thread and leak.
  if (stopped || key == WQ_QUIT) {
    if (!copy) Release(data);
    return false;
  }
  WorkItem* item = static_cast<WorkItem*>(hooks.allocate(sizeof(WorkItem)));
  if (!item) {
    if (!copy) Release(data);
    return false;
  }
  void* payload = data;
  if (copy) {
    payload = (size == 0 || data) ? hooks.allocate(size ? size : 1) : nullptr;
    if (!payload) {
      Release(item);
      return false;
    }
    if (size) memcpy(payload, data, size);
  }
  item->id = id;
  item->key = key;
  item->dataSize = key == WQ_PROBE ? hooks.tickCount() : size;
  item->data = payload;
  if (PostQueuedCompletionStatus(port, 0, key, reinterpret_cast<OVERLAPPED*>(item))) return true;

  DWORD error = GetLastError();
  Release(payload);
  Release(item);
  char message[kMessageSize];
  FormatText(message, sizeof(message), "work Queue [%s] PostQueuedCompletionStatus fail err=%d",
             queueName, static_cast<int>(error));
  Report(LOG_ERROR, message);
  return false;
}

bool WorkQueue::Stop() {
  stopped = true;
  if (!port) return true;
  for (int i = 0; i < threadCount; ++i) PostQueuedCompletionStatus(port, 0, WQ_QUIT, nullptr);
  DWORD waited = WaitForMultipleObjects(static_cast<DWORD>(threadCount), threads, TRUE, stopWaitMs);
  bool allEnded = waited < WAIT_OBJECT_0 + static_cast<DWORD>(threadCount);
  for (int i = 0; i < threadCount; ++i) CloseHandle(threads[i]);
  delete[] threads;
  threads = nullptr;
  threadCount = 0;
  // A thread still at work keeps the port: it drains what is left and then
  // takes its quit packet, instead of failing on a closed handle.
  if (allEnded) CloseHandle(port);
  port = nullptr;
  return allEnded;
}
