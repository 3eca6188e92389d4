// The process's log, g_Log: timestamped lines in six levels, echoed on the
// console in colour and written to a daily file under "Log/" by the log's
// own work-queue thread.
#pragma once

#include <windows.h>
#include <stdarg.h>
#include <stdint.h>

#include <iosfwd>

#include "update/base/bounded_format.h"
#include "update/log/lock.h"
#include "update/log/log_clock.h"
#include "update/log/log_console.h"
#include "update/log/log_file.h"
#include "update/log/log_record.h"

enum {
  LOG_STATUS = 0,  // console only
  LOG_RAW = 1,     // console only
  LOG_INFO = 2,
  LOG_WARN = 3,
  LOG_ERROR = 4,
  LOG_CRITICAL = 5,
};

// The format operations format into a buffer of this size; longer messages
// are cut at a whole character.
const int LOG_FORMAT_SIZE = 4096;
const int LOG_NAME_SIZE = 256;

class WorkQueue;
struct WorkItem;

typedef void (*LevelCallback)(int level);

class Logger {
 public:
  Logger();
  ~Logger();

  // The core: `message` is taken as it stands, never as a format.
  void Write(const char* message, int level);
  void Status(const char* message) { Write(message, LOG_STATUS); }
  void Raw(const char* message) { Write(message, LOG_RAW); }
  void Log(int level, const char* message);
  // Logs the stream's text up to its write position, then rewinds it.
  void LogStream(int level, std::ostringstream& stream);
  void Logf(int level, const char* format, ...) PRINTF_CHECK(3, 4);
  void VLogf(int level, const char* format, va_list args) PRINTF_CHECK(3, 0);

  // With one argument the text is logged as it stands ("100%" stays
  // "100%"); with more, the first is a printf format.
  void Info(const char* text) { Log(LOG_INFO, text); }
  void Warn(const char* text) { Log(LOG_WARN, text); }
  void Error(const char* text) { Log(LOG_ERROR, text); }
  void Critical(const char* text) { Log(LOG_CRITICAL, text); }
  // (A template only so that the one-text form above wins where both fit;
  // the compiler checks the format against the arguments.)
  template <typename OneTextWins = void>
  void Info(const char* format, ...) PRINTF_CHECK(2, 3);
  template <typename OneTextWins = void>
  void Warn(const char* format, ...) PRINTF_CHECK(2, 3);
  template <typename OneTextWins = void>
  void Error(const char* format, ...) PRINTF_CHECK(2, 3);
  template <typename OneTextWins = void>
  void Critical(const char* format, ...) PRINTF_CHECK(2, 3);

  bool ShouldLog(int level) const;

  // Not used by the updater itself; settings are meant to be made before
  // the first line is logged.
  void Configure(const char* path, bool console, bool file, bool errFile, bool synchronous);
  void SetSilenceNotice(int seconds);
  void SetSynchronous(bool synchronous);
  void SetLevelCallback(LevelCallback callback);
  void SetClock(const LogClock& clock);

  bool InitConsole(bool statusLine);
  DWORD OpenDailyFile(const SYSTEMTIME& now, LogFile& file);
  void WriteRecord(LogRecord* record);
  void WriteErrRecord(LogRecord* record);

  LogFile& MainFile() { return logFile; }
  LogFile& ErrorFile() { return errFile; }
  const char* FilePrefix() const { return filePrefix; }

  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

 private:
  void WriteFileStep(LogRecord* record);
  void ReportWriteFailure(LogFile& file, DWORD error);
  void SilenceNotice();
  LogRecord* MakeRecord(const char* message, int level, const SYSTEMTIME& now, uint32_t* size);
  bool PostRecord(LogRecord* record, uint32_t size);

  LogConsole console;
  LogFile logFile;
  LogFile errFile;
  char filePrefix[LOG_NAME_SIZE + 16];
  char logDir[MAX_PATH];
  bool fileEnabled;
  bool errFileEnabled;
  bool consoleEnabled;
  bool statusLineMode;
  bool synchronous;
  int32_t silenceSeconds;
  int32_t lastLogTime;
  Lock lock;
  LevelCallback levelCallback;
  LogClock clock;
  WorkQueue* queue;
};

// The log's queue handler: writes the record through the log that made it.
int LogQueueHandler(WorkItem* item);

template <typename OneTextWins>
void Logger::Info(const char* format, ...) {
  va_list args;
  va_start(args, format);
  VLogf(LOG_INFO, format, args);
  va_end(args);
}

template <typename OneTextWins>
void Logger::Warn(const char* format, ...) {
  va_list args;
  va_start(args, format);
  VLogf(LOG_WARN, format, args);
  va_end(args);
}

template <typename OneTextWins>
void Logger::Error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  VLogf(LOG_ERROR, format, args);
  va_end(args);
}

template <typename OneTextWins>
void Logger::Critical(const char* format, ...) {
  va_list args;
  va_start(args, format);
  VLogf(LOG_CRITICAL, format, args);
  va_end(args);
}

// Constructed before every other global of the program and destroyed after
// them (see logger_global.cpp).
extern Logger g_Log;
