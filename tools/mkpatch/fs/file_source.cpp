#include "mkpatch/fs/file_source.h"

#include "mkpatch/fs/file_system.h"

bool FileByteSource::ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) {
  *bytesRead = 0;
  if (!SeekTo(file_, offset)) return false;
  size_t got = std::fread(buffer, 1, length, file_);
  *bytesRead = static_cast<uint32_t>(got);
  return got == length || !std::ferror(file_);
}
