// A region of the updater's file read front to back through a bounded
// buffer: what a decompressor (zstd_stream.h, lzma_stream.h) takes its
// input from.
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/base/byte_source.h"
#include "update/codec/byte_stream.h"

class StoredInput {
 public:
  // [begin, begin + size) of `stored`; the buffer is allocated only for a
  // region that is not empty.
  DecodeError Open(ByteSource* stored, uint64_t begin, uint64_t size);
  // Reads the next piece of the region once the buffer is used up.
  DecodeError Fill();

  const unsigned char* Data() const { return buffer_.get() + position_; }
  size_t Available() const { return size_ - position_; }
  void Consume(size_t count) { position_ += count; }
  // Every stored byte has been read into the buffer.
  bool AllRead() const { return next_ == end_; }
  // ... and taken from it.
  bool Exhausted() const { return AllRead() && position_ == size_; }

 private:
  ByteSource* stored_ = nullptr;
  uint64_t next_ = 0;
  uint64_t end_ = 0;
  DecodeBuffer buffer_;
  size_t position_ = 0;
  size_t size_ = 0;
};
