#include "update/base/byte_source.h"

#include <cstring>

MemoryByteSource::MemoryByteSource(const void* data, size_t size)
    : data_(static_cast<const unsigned char*>(data)), size_(size) {}

uint64_t MemoryByteSource::Size() const { return size_; }

bool MemoryByteSource::ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) {
  uint64_t available = offset < size_ ? size_ - offset : 0;
  uint32_t count = available < length ? static_cast<uint32_t>(available) : length;
  if (count > 0) std::memcpy(buffer, data_ + offset, count);
  *bytesRead = count;
  return true;
}
