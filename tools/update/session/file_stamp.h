// Whether a digest taken from an open file still describes the file a path
// names: the volume, file index, size and last write time, taken when the
// digest was and compared later. Cheaper than reading the file again, and it
// notices both a file put in place of the one that was read (another index)
// and one written in between (another size or last write time).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct FileStamp {
  uint32_t volume = 0;
  uint64_t index = 0;
  uint64_t size = 0;
  uint64_t lastWrite = 0;
  bool taken = false;  // false: nothing is known about the file

  bool SameFileUnchanged(const FileStamp& other) const;
};

// The stamp of an open file; `taken` false when it cannot be queried.
FileStamp StampOfHandle(HANDLE file);
// The stamp of the file at `path`, opened for its attributes only: that
// needs no share mode, so an updater holding its own file may be asked too.
FileStamp StampOfPath(const char* path);

// 32 hex digits of a file's MD5 and the stamp of the file they were taken
// from; empty when none was taken.
struct StampedDigest {
  std::string hex;
  FileStamp stamp;

  // True when there is a digest and `path` still names that file, unchanged.
  bool DescribesFileAt(const char* path) const;
};
