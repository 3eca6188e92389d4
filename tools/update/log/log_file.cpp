#include "update/log/log_file.h"

#include "update/base/bounded_format.h"

namespace {
int32_t DateStamp(const SYSTEMTIME& now) { return now.wYear * 10000 + now.wMonth * 100 + now.wDay; }
}  // namespace

LogFile::LogFile()
    : handle(INVALID_HANDLE_VALUE), year(0), month(0), day(0), openDate(0), abandoned(false) {
  path[0] = '\0';
  extension[0] = '\0';
  notice[0] = '\0';
}

LogFile::~LogFile() {
  if (!abandoned) Close();
}

void LogFile::Abandon() {
  abandoned = true;
  lock.Abandon();
}

bool LogFile::IsOpenFor(const SYSTEMTIME& now) const {
  int32_t open = openDate.load(std::memory_order_acquire);
  return open != 0 && open == DateStamp(now);
}

void LogFile::Close() {
  openDate.store(0, std::memory_order_release);
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  handle = INVALID_HANDLE_VALUE;
}

DWORD LogFile::OpenForDate(const char* logDir, const char* filePrefix, const SYSTEMTIME& now) {
  ScopedLock guard(&lock);
  // Another thread may have switched the file while this one waited.
  if (IsOpenFor(now)) return 0;
  year = now.wYear;
  month = now.wMonth;
  day = now.wDay;
  Close();

  bool folderUsable = CreateDirectoryA(logDir, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
  if (folderUsable) {
    FormatText(path, sizeof(path), "%s%s%d%02d%02d.%s", logDir, filePrefix, year, month, day,
               extension);
  } else {
    FormatText(path, sizeof(path), "%s%d%02d%02d.%s", filePrefix, year, month, day, extension);
  }
  handle = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  openDate.store(DateStamp(now), std::memory_order_release);
  return 0;
}

DWORD WriteAll(HANDLE handle, const void* bytes, DWORD count) {
  if (handle == INVALID_HANDLE_VALUE) return 0;
  const char* next = static_cast<const char*>(bytes);
  while (count > 0) {
    DWORD written = 0;
    if (!WriteFile(handle, next, count, &written, nullptr)) return GetLastError();
    // A write that succeeds without taking a byte would repeat for ever.
    if (written == 0) return ERROR_HANDLE_DISK_FULL;
    next += written;
    count -= written;
  }
  return 0;
}
