// Another program holding a file, for the engine and GUI tests: the program
// tests/engine/file_holder.cpp, started on a path, released by a named event.
#pragma once

#include <windows.h>

#include <string>

#include "update/files/win32_handle.h"

class FileHolder {
 public:
  // `holderExe`: the Windows path of file_holder.exe.
  explicit FileHolder(const std::string& holderExe) : holderExe_(holderExe) {}
  ~FileHolder() { Release(); }
  FileHolder(const FileHolder&) = delete;
  FileHolder& operator=(const FileHolder&) = delete;

  // Starts the holder on `path`; returns once it holds the file (false if
  // it could not, or did not within a generous bound).
  bool Hold(const std::string& path);
  // Lets go and waits until the holder has ended, so the file is free.
  void Release();

 private:
  std::string holderExe_;
  UniqueHandle held_;
  UniqueHandle release_;
  UniqueHandle process_;
};
