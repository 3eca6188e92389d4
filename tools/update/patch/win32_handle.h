// RAII owners for the Win32 and C runtime handles the engine opens, so that
// every early return closes what was opened.
#pragma once

#include <windows.h>

#include <cstdio>

// A kernel handle closed with CloseHandle. Both null and INVALID_HANDLE_VALUE
// mean "nothing owned": CreateFileA fails with the latter, most others with null.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { Close(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE Get() const { return handle_; }
  bool IsValid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE handle) {
    Close();
    handle_ = handle;
  }
  // Closes now and reports whether the close succeeded (a write-back can fail here).
  bool Close() {
    bool ok = true;
    if (IsValid()) ok = CloseHandle(handle_) != FALSE;
    handle_ = nullptr;
    return ok;
  }

 private:
  HANDLE handle_ = nullptr;
};

// An open registry key.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  HKEY* Receive() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// A C runtime stream closed with fclose, unless ownership was given away
// (the MD5 file constructor closes the stream itself).
class FileHandle {
 public:
  explicit FileHandle(FILE* file) : file_(file) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  FILE* Get() const { return file_; }
  FILE* Release() {
    FILE* file = file_;
    file_ = nullptr;
    return file;
  }
  bool Close() {
    bool ok = true;
    if (file_ != nullptr) ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok;
  }

 private:
  FILE* file_;
};
