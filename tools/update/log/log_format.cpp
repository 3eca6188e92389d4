#include "update/log/log_format.h"

#include "update/base/bounded_format.h"
#include "update/log/logger.h"

const char* LineFormat(bool statusLineMode, int level) {
  if (statusLineMode) {
    if (level == LOG_STATUS) {
      return "\r                                                        \r%s %s";
    }
    if (level == LOG_RAW) return "%s";
    return "\r%s %s\n";
  }
  switch (level) {
    case LOG_WARN:
      return "\r\n%s %s  <-------警告";
    case LOG_ERROR:
      return "\r\n%s %s  <-------错误";
    case LOG_CRITICAL:
      return "\r\n%s %s  <-------严重关注";
    default:
      return "\r\n%s %s";
  }
}

bool LineTakesMessageOnly(bool statusLineMode, int level) {
  return statusLineMode && level == LOG_RAW;
}

size_t LineDecorationRoom(bool statusLineMode, int level) {
  return statusLineMode && level == LOG_STATUS ? 512 : 128;
}

void FormatTimestamp(char* target, size_t size, const SYSTEMTIME& now) {
  FormatText(target, size, "%04d-%02d-%02d %02d:%02d:%02d", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond);
}
