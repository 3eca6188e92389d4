// A source of decoded bytes read front to back: a zstd stream inside the
// updater's file, or bytes already in memory. The delta decoder reads its
// three streams through this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "update/codec/entry_codec.h"

class ByteStream {
 public:
  virtual ~ByteStream() = default;
  // Up to `length` bytes into `out`; *produced says how many. Fewer than
  // asked only at the end of the stream.
  virtual DecodeError Read(unsigned char* out, size_t length, size_t* produced) = 0;
  // Succeeds only when nothing is left: the stream held exactly the bytes read.
  virtual DecodeError Finish() = 0;
};

// Exactly `length` bytes, or StreamShort when the stream ends first.
DecodeError ReadExactly(ByteStream& stream, unsigned char* out, size_t length);

class MemoryStream : public ByteStream {
 public:
  MemoryStream(const unsigned char* data, size_t size) : data_(data), size_(size) {}
  DecodeError Read(unsigned char* out, size_t length, size_t* produced) override;
  DecodeError Finish() override;

 private:
  const unsigned char* data_;
  size_t size_;
  size_t position_ = 0;
};

// A buffer for the decoder's bounded working set; null when memory ran out
// (the updater handles that as a failed entry, not an exception).
using DecodeBuffer = std::unique_ptr<unsigned char[]>;
inline DecodeBuffer AllocateDecodeBuffer(size_t size) {
  return DecodeBuffer(new (std::nothrow) unsigned char[size == 0 ? 1 : size]);
}
