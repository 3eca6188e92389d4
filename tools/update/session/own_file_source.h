// The updater's own file, opened for the run, as a source of payload bytes.
#pragma once

#include <windows.h>

#include "update/files/system_result.h"
#include "update/files/win32_handle.h"
#include "update/format/payload_table.h"
#include "update/session/file_stamp.h"

class OwnFileSource : public ByteSource {
 public:
  OwnFileSource() : wholeFile_(*this) {}
  OwnFileSource(const OwnFileSource&) = delete;
  OwnFileSource& operator=(const OwnFileSource&) = delete;

  // Opens `path` for reading, sharing it for reading only, so nobody can
  // change the payload while it is read.
  SystemResult Open(const char* path);

  bool IsOpen() const { return file_.IsValid(); }
  HANDLE Handle() const { return file_.Get(); }
  void Close() { file_.Close(); }

  // The updater's own bytes: the whole file, or for a file signed after it
  // was built, the bytes before the signature and its alignment padding.
  // Reads stop there too.
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) override;
  // Moves the file position for a following sequential read.
  bool Seek(uint64_t offset);

  // Every byte of the file as it was opened, a signature included: what the
  // MD5 of the updater's own file covers.
  ByteSource& WholeFile() { return wholeFile_; }
  // Which file is open, and in what state (see file_stamp.h).
  FileStamp Stamp() const { return StampOfHandle(file_.Get()); }

 private:
  class WholeFileSource : public ByteSource {
   public:
    explicit WholeFileSource(OwnFileSource& file) : file_(file) {}
    uint64_t Size() const override { return file_.fileSize_; }
    bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) override {
      return file_.ReadBelow(file_.fileSize_, offset, buffer, length, bytesRead);
    }

   private:
    OwnFileSource& file_;
  };

  bool ReadBelow(uint64_t end, uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead);

  UniqueHandle file_;
  uint64_t fileSize_ = 0;
  uint64_t size_ = 0;
  WholeFileSource wholeFile_;
};
