// One daily log file: which date it is open for, and its append handle.
#pragma once

#include <windows.h>
#include <stdint.h>

#include <atomic>

#include "update/log/lock.h"

const int LOG_PATH_SIZE = 4096;
const int LOG_NOTICE_SIZE = 4096;

struct LogFile {
  LogFile();
  ~LogFile();

  // The lock-free test made for every line: open, and for this date.
  bool IsOpenFor(const SYSTEMTIME& now) const;
  // Closes any open handle and opens the file of `now`'s date, creating the
  // folder first. Returns 0 or the Win32 error of the open.
  DWORD OpenForDate(const char* logDir, const char* filePrefix, const SYSTEMTIME& now);
  void Close();
  // Makes the next line reopen the file, under a name that has changed.
  void Invalidate() { openDate.store(0, std::memory_order_release); }
  // For a log whose writer thread outlived the shutdown wait: the handle and
  // lock stay alive (until process exit) rather than vanish under it.
  void Abandon();

  HANDLE handle;
  int32_t year;
  int32_t month;
  int32_t day;
  char path[LOG_PATH_SIZE];
  char extension[32];
  Lock lock;
  // yyyymmdd while open, 0 while closed: the date test reads this one word
  // so a switch in progress on another thread never shows a torn date.
  std::atomic<int32_t> openDate;
  // Holds the write-failure notice; used only under `lock`.
  char notice[LOG_NOTICE_SIZE];
  bool abandoned;

  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;
};

// Writes every byte or stops at the first failure. Returns 0 or the Win32
// error; an invalid handle counts as nothing to do.
DWORD WriteAll(HANDLE handle, const void* bytes, DWORD count);
