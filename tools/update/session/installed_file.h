// A file of the game directory as the run reads it: the installed file a
// delta applies to, or one compared with the bytes it ought to hold.
#pragma once

#include <windows.h>

#include <cstdint>

#include "update/base/byte_source.h"
#include "update/files/system_result.h"
#include "update/files/win32_handle.h"
#include "update/log/lock.h"

class InstalledFile : public ByteSource {
 public:
  InstalledFile() = default;
  InstalledFile(const InstalledFile&) = delete;
  InstalledFile& operator=(const InstalledFile&) = delete;

  // Opens `path` for reading, sharing it for reading only, so that nobody
  // changes it while it is read; a file another program holds for a moment
  // is waited for (file_retry.h).
  SystemResult Open(const char* path);
  void Close() { file_.Close(); }

  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) override;
  // The MD5 of every byte, read front to back.
  SystemResult Digest(unsigned char (&md5)[16]);

 private:
  UniqueHandle file_;
  uint64_t size_ = 0;
  Lock reading_;  // ReadAt is called from two threads at once
};

// Whether the file at `path` holds exactly `size` bytes with `md5` (*holds);
// nothing there, a folder or a file of another size is not read at all. A
// file that is there but cannot be read fails with the system's error.
SystemResult FileHolds(const char* path, uint64_t size, const unsigned char (&md5)[16],
                       bool* holds);
