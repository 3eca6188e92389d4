// A formatted line on its way to the writers: header and text in one block,
// so whoever writes it frees it with one call.
#pragma once

#include <stdint.h>

struct LogFile;
class Logger;

struct LogRecord {
  int32_t level;
  bool consoleEnabled;  // as it was when the line was formatted
  LogFile* logFile;
  LogFile* errFile;
  int32_t length;  // text length plus its terminating zero
  char* text;      // points just past this header
  Logger* owner;   // the log whose console and files write the line
};
