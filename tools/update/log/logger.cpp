// Construction, shutdown and settings of the log.
#include "update/log/logger.h"

#include <stdlib.h>
#include <string.h>

#include <new>

#include "update/base/bounded_format.h"
#include "update/base/gbk_text.h"
#include "update/log/work_queue.h"

namespace {
const char kLogDir[] = "Log/";
const uint32_t kLogRecordKey = 3;

// "<name>_<pid>_" from the program's own file name, without folder and
// extension, keeping its letter case. The folder ends at the last separator
// that is not the second byte of a double-byte character.
void BuildFilePrefix(char* target, size_t size) {
  char module[LOG_NAME_SIZE];
  memset(module, 0, sizeof(module));
  GetModuleFileNameA(nullptr, module, sizeof(module) - 1);
  const char* separator = FindLastSeparator(module, "\\/");
  const char* name = separator ? separator + 1 : module;
  char stem[LOG_NAME_SIZE];
  CopyText(stem, sizeof(stem), name);
  char* dot = strrchr(stem, '.');
  if (dot) *dot = '\0';
  FormatText(target, size, "%s_%lu_", stem, static_cast<unsigned long>(GetCurrentProcessId()));
}
}  // namespace

Logger::Logger()
    : fileEnabled(true),
      errFileEnabled(false),
      consoleEnabled(true),
      statusLineMode(false),
      synchronous(false),
      silenceSeconds(0),
      lastLogTime(0),
      levelCallback(nullptr),
      clock(RealLogClock()),
      queue(nullptr) {
  CopyText(logFile.extension, sizeof(logFile.extension), "log");
  CopyText(errFile.extension, sizeof(errFile.extension), "err");
  CopyText(logDir, sizeof(logDir), kLogDir);
  BuildFilePrefix(filePrefix, sizeof(filePrefix));
  InitConsole(false);
  // The queue reports to the console: reporting into the log it feeds could
  // post to itself while it stops.
  queue = new (std::nothrow) WorkQueue(true);
  if (queue) queue->Create(LogQueueHandler, 1, "g_Log");
  lastLogTime = clock.seconds();
}

Logger::~Logger() {
  bool drained = true;
  if (queue) {
    drained = queue->Stop();
    delete queue;
    queue = nullptr;
  }
  if (!drained) {
    // The writer is still inside a line: it keeps its files and locks.
    logFile.Abandon();
    errFile.Abandon();
  }
}

bool Logger::InitConsole(bool statusLine) {
  if (!console.Init()) return false;
  statusLineMode = statusLine;
  return true;
}

bool Logger::ShouldLog(int level) const {
  return (level > LOG_WARN && errFileEnabled) || fileEnabled || consoleEnabled;
}

void Logger::Configure(const char* path, bool consoleOn, bool fileOn, bool errFileOn,
                       bool synchronousOn) {
  consoleEnabled = consoleOn;
  fileEnabled = fileOn;
  errFileEnabled = errFileOn;
  synchronous = synchronousOn;
  if (!path) path = "";
  const char* slash = strrchr(path, '/');
  CopyText(logDir, sizeof(logDir), kLogDir);
  CreateDirectoryA(logDir, nullptr);
  if (slash) {
    char folder[MAX_PATH];
    size_t length = static_cast<size_t>(slash - path) + 1;
    if (length >= sizeof(folder)) length = sizeof(folder) - 1;
    memcpy(folder, path, length);
    folder[length] = '\0';
    AppendText(logDir, sizeof(logDir), folder);
  }
  if (*path) CopyText(filePrefix, sizeof(filePrefix), slash ? slash + 1 : path);
  // A file opened before this call would otherwise keep the old name until
  // the next day. Lines already queued still go to the file open when they
  // are written, as at midnight.
  logFile.Invalidate();
  errFile.Invalidate();
}

void Logger::SetSilenceNotice(int seconds) { silenceSeconds = seconds > 0 ? seconds : 0; }
void Logger::SetSynchronous(bool on) { synchronous = on; }
void Logger::SetLevelCallback(LevelCallback callback) { levelCallback = callback; }

void Logger::SetClock(const LogClock& replacement) {
  LogClock real = RealLogClock();
  clock.localTime = replacement.localTime ? replacement.localTime : real.localTime;
  clock.seconds = replacement.seconds ? replacement.seconds : real.seconds;
}

DWORD Logger::OpenDailyFile(const SYSTEMTIME& now, LogFile& file) {
  if (file.IsOpenFor(now)) return 0;
  return file.OpenForDate(logDir, filePrefix, now);
}

bool Logger::PostRecord(LogRecord* record, uint32_t size) {
  if (!queue) {
    free(record);
    return false;
  }
  return queue->Post(0, record, size, false, kLogRecordKey);
}

int LogQueueHandler(WorkItem* item) {
  LogRecord* record = static_cast<LogRecord*>(item->data);
  if (record && record->owner) record->owner->WriteRecord(record);
  return 0;
}
