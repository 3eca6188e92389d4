// The way of one line: formatted on the caller's thread, written to console
// and files on the queue's thread (or on the caller's when synchronous).
#include "update/log/logger.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "update/base/bounded_format.h"
#include "update/log/log_format.h"

namespace {
bool IsColoured(int level) { return level >= LOG_WARN && level <= LOG_CRITICAL; }
}  // namespace

void Logger::Log(int level, const char* message) {
  if (ShouldLog(level)) Write(message, level);
}

void Logger::Logf(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  VLogf(level, format, args);
  va_end(args);
}

void Logger::VLogf(int level, const char* format, va_list args) {
  if (!format || !ShouldLog(level)) return;
  char message[LOG_FORMAT_SIZE];
  FormatBounded(message, sizeof(message), format, args);
  Write(message, level);
}

void Logger::Write(const char* message, int level) {
  if (!message) return;
  SYSTEMTIME now;
  clock.localTime(&now);
  OpenDailyFile(now, logFile);
  bool toErrFile = errFileEnabled && level > LOG_WARN;
  if (toErrFile) OpenDailyFile(now, errFile);
  if (silenceSeconds != 0) SilenceNotice();

  uint32_t size = 0;
  LogRecord* record = MakeRecord(message, level, now, &size);
  if (!record) return;  // no memory for it: the line is dropped

  if (synchronous) {
    ScopedLock guard(&lock);
    WriteErrRecord(record);
    WriteRecord(record);
    free(record);
    return;
  }
  if (toErrFile) {
    ScopedLock guard(&lock);
    WriteErrRecord(record);
  }
  PostRecord(record, size);
}

void Logger::SilenceNotice() {
  int32_t current = clock.seconds();
  int32_t gap = current - lastLogTime;
  lastLogTime = current;
  if (gap >= silenceSeconds) {
    char notice[LOG_STAMP_SIZE];
    FormatText(notice, sizeof(notice), "请注意,之前%d秒无LOG输出", static_cast<int>(gap));
    Write(notice, LOG_WARN);
  }
}

LogRecord* Logger::MakeRecord(const char* message, int level, const SYSTEMTIME& now,
                              uint32_t* size) {
  size_t messageLength = strlen(message);
  size_t room = LineDecorationRoom(statusLineMode, level);
  if (messageLength > INT32_MAX - sizeof(LogRecord) - room) return nullptr;
  room += messageLength;
  size_t total = sizeof(LogRecord) + room;
  LogRecord* record = static_cast<LogRecord*>(malloc(total));
  if (!record) return nullptr;

  record->level = level;
  record->consoleEnabled = consoleEnabled;
  record->logFile = &logFile;
  record->errFile = &errFile;
  record->text = reinterpret_cast<char*>(record + 1);
  record->owner = this;

  const char* format = LineFormat(statusLineMode, level);
  size_t length;
  if (LineTakesMessageOnly(statusLineMode, level)) {
    length = FormatText(record->text, room, format, message);
  } else {
    char stamp[LOG_STAMP_SIZE];
    FormatTimestamp(stamp, sizeof(stamp), now);
    length = FormatText(record->text, room, format, stamp, message);
  }
  record->length = static_cast<int32_t>(length + 1);
  *size = static_cast<uint32_t>(total);
  return record;
}

void Logger::WriteRecord(LogRecord* record) {
  int level = record->level;
  bool silenced = !record->consoleEnabled && (level == LOG_INFO || level == LOG_WARN);
  if (console.IsOpen() && !silenced) {
    if (level == LOG_WARN) console.SetColour(console.warnAttr);
    if (level == LOG_ERROR || level == LOG_CRITICAL) console.SetColour(console.errorAttr);
    console.WriteText(record->text, static_cast<DWORD>(record->length - 1));
    if (IsColoured(level)) console.SetColour(console.defaultAttr);
    if (levelCallback && level != LOG_STATUS && level != LOG_RAW) levelCallback(level);
  }
  WriteFileStep(record);
}

void Logger::WriteFileStep(LogRecord* record) {
  if (!fileEnabled || record->level < LOG_INFO) return;
  LogFile& file = *record->logFile;
  ScopedLock guard(&file.lock);
  if (file.handle == INVALID_HANDLE_VALUE) return;
  DWORD error = WriteAll(file.handle, record->text, static_cast<DWORD>(record->length - 1));
  if (error != 0) ReportWriteFailure(file, error);
}

void Logger::WriteErrRecord(LogRecord* record) {
  if (!errFileEnabled || record->level <= LOG_WARN) return;
  LogFile& file = *record->errFile;
  // The file's own lock as well: another logging thread may be switching it
  // to a new date at this moment.
  ScopedLock guard(&file.lock);
  if (file.handle == INVALID_HANDLE_VALUE) return;
  DWORD error = WriteAll(file.handle, record->text, static_cast<DWORD>(record->length - 1));
  if (error != 0) ReportWriteFailure(file, error);
}

// Runs under `file`'s lock, which also guards its notice buffer.
void Logger::ReportWriteFailure(LogFile& file, DWORD error) {
  size_t length = FormatText(file.notice, sizeof(file.notice), "<--- 该条日志写文件 %s 错误,err=%d",
                             file.path, static_cast<int>(error));
  console.SetColour(console.errorAttr);
  console.WriteText(file.notice, static_cast<DWORD>(length));
  console.SetColour(console.defaultAttr);
}
