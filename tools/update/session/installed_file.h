// A file of the game directory as the run reads it: the installed file a
// delta applies to, or one compared with the bytes it ought to hold.
#pragma once

#include <windows.h>

#include <cstdint>

#include "update/files/win32_handle.h"
#include "update/format/entry_descriptor.h"
#include "update/format/payload_table.h"

class InstalledFile : public ByteSource {
 public:
  InstalledFile() = default;
  InstalledFile(const InstalledFile&) = delete;
  InstalledFile& operator=(const InstalledFile&) = delete;

  // Opens `path` for reading, sharing it for reading only, so that nobody
  // changes it while it is read; a file another program holds for a moment
  // is waited for (file_retry.h). False with the system's error as the last
  // error.
  bool Open(const char* path);
  void Close() { file_.Close(); }

  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) override;
  // The MD5 of every byte, read front to back; false on a read error.
  bool Digest(unsigned char (&md5)[ENTRY_DIGEST_SIZE]);

 private:
  UniqueHandle file_;
  uint64_t size_ = 0;
};

// What the file at `path` holds, compared with a described entry's source
// (sourceSize bytes with sourceMd5: the old file a delta applies to or a
// removal removes) and its result (decodedSize bytes with decodedMd5).
// Nothing there, a folder, or a file of other bytes is neither.
struct InstalledMatch {
  bool unreadable = false;  // a file is there but could not be read; the last error says why
  bool isSource = false;
  bool isResult = false;
};

// Only a file of one of the two sizes is read.
InstalledMatch CheckInstalledFile(const char* path, const EntryDescriptor& descriptor);
