// What a file operation of the run came to: success, or the system's error
// code, taken right where the failing call returned. Passed back as a value,
// so that no caller depends on the thread's last error surviving the calls
// in between (logging, retries, other files).
#pragma once

#include <windows.h>

class [[nodiscard]] SystemResult {
 public:
  static SystemResult Ok() { return SystemResult(ERROR_SUCCESS); }
  // `error` 0 would read as success: a failure without a code is a general one.
  static SystemResult Failed(DWORD error) {
    return SystemResult(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
  }
  // The failure the system reports for the call that just failed.
  static SystemResult OfLastError() { return Failed(GetLastError()); }

  bool Succeeded() const { return error_ == ERROR_SUCCESS; }
  explicit operator bool() const { return Succeeded(); }
  DWORD Error() const { return error_; }

 private:
  explicit SystemResult(DWORD error) : error_(error) {}
  DWORD error_;
};
