// Bytes in memory whose reads fail from a given offset on, as a file on a
// failing disk or a lost network share does.
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/base/byte_source.h"

class FailingSource : public MemoryByteSource {
 public:
  FailingSource(const void* data, size_t size, uint64_t failAt)
      : MemoryByteSource(data, size), failAt_(failAt) {}
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) override {
    if (offset + length > failAt_) return false;
    return MemoryByteSource::ReadAt(offset, buffer, length, bytesRead);
  }

 private:
  uint64_t failAt_;
};
