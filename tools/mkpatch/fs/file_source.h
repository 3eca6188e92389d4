// An updater file read through stdio, for the payload table reader.
#pragma once

#include <cstdio>

#include "update/format/payload_table.h"

class FileByteSource : public ByteSource {
 public:
  FileByteSource(FILE* file, uint64_t size) : file_(file), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) override;

 private:
  FILE* file_;  // not owned
  uint64_t size_;
};
