// Random access to a file too large to hold, through a few chunks kept in
// memory. The differ for large files walks both files mostly front to back,
// at a handful of places at once (where it matches, where a pairing it is
// closing began, where it stretches a match backwards); each place keeps its
// chunk, so nearly every byte is read from the file once per walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "update/base/byte_source.h"

class ChunkCache {
 public:
  // `slots` chunks of `chunkSize` bytes (a power of two).
  ChunkCache(ByteSource& source, size_t chunkSize = size_t(1) << 20, size_t slots = 4);

  uint64_t Size() const { return size_; }

  // The byte at `position` (< Size()). A read error gives zeros and makes
  // Failed() true: the caller checks once at the end.
  unsigned char At(uint64_t position) {
    const uint64_t at = position - currentBase_;
    return at < currentLength_ ? current_[at] : Load(position)[position - currentBase_];
  }

  // The bytes from `position` (< Size()) to the end of its chunk: *available
  // of them (at least one). Valid until the next call.
  const unsigned char* Span(uint64_t position, size_t* available) {
    if (position - currentBase_ >= currentLength_) Load(position);
    const size_t at = static_cast<size_t>(position - currentBase_);
    *available = currentLength_ - at;
    return current_ + at;
  }

  // `length` bytes from `position` (all within the file) into `out`, from a
  // kept chunk when one holds them, else read directly without displacing
  // any: for a look at a place that may not be worth a chunk.
  void Peek(uint64_t position, unsigned char* out, size_t length);

  bool Failed() const { return failed_; }

 private:
  struct Slot {
    uint64_t base = 0;
    size_t length = 0;
    uint64_t used = 0;  // when it was last made current, for eviction
    std::unique_ptr<unsigned char[]> bytes;
  };

  // Makes the chunk holding `position` current and returns its bytes.
  const unsigned char* Load(uint64_t position);

  ByteSource& source_;
  uint64_t size_;
  size_t chunkSize_;
  std::vector<Slot> slots_;
  uint64_t clock_ = 0;
  const unsigned char* current_ = nullptr;
  uint64_t currentBase_ = 0;
  size_t currentLength_ = 0;
  bool failed_ = false;
};

// How many bytes from new position `newAt` of `target` equal those from
// `oldAt` of `old`, at most `limit`.
uint64_t CommonLength(ChunkCache& target, uint64_t newAt, ChunkCache& old, uint64_t oldAt,
                      uint64_t limit);
