// The updater's own file, opened for the run, as a source of payload bytes.
#pragma once

#include <windows.h>

#include "payload_table.h"
#include "win32_handle.h"

class OwnFileSource : public PayloadSource {
 public:
  // Opens `path` for reading, sharing it for reading only, so nobody can
  // change the payload while it is read. On failure OpenError tells why.
  bool Open(const char* path);

  bool IsOpen() const { return file_.IsValid(); }
  DWORD OpenError() const { return openError_; }
  HANDLE Handle() const { return file_.Get(); }
  void Close() { file_.Close(); }

  // The updater's own bytes: the whole file, or for a file signed after it
  // was built, the bytes before the signature and its alignment padding.
  // Reads stop there too.
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) override;
  // Moves the file position for a following sequential read.
  bool Seek(uint64_t offset);

 private:
  UniqueHandle file_;
  DWORD openError_ = 0;
  uint64_t size_ = 0;
};
