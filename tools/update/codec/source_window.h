// Windows of a source, refilled as its reader moves: the file is never held
// whole, and a reader that asks for many small pieces near one another (the
// reference finder, a delta's copies) costs the system one read per window
// instead of one per piece. Under the emulator a system call is dear, and a
// delta of an image copies tens of thousands of pieces, mostly forwards
// through the old file but interleaved with short copies from elsewhere:
// those take the other windows, the least recently used one first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/base/byte_source.h"
#include "update/codec/byte_stream.h"

class SourceWindow : public ByteSource {
 public:
  static constexpr size_t kSlotsMax = 16;

  // `count` windows (at most kSlotsMax) of `capacity` bytes each.
  SourceWindow(ByteSource& source, size_t capacity, size_t count = 1);

  // False when the windows' memory cannot be had.
  bool Allocate();

  // The bytes at [offset, offset + length) (length at most half the
  // capacity), or null when they are not all in the source or cannot be
  // read (Failed then says which).
  const unsigned char* At(uint64_t offset, size_t length);
  // Whether a read of the source failed (not merely ran past its end).
  bool Failed() const { return failed_; }

  uint64_t Size() const override { return size_; }
  // Through the windows; a read of half the capacity or more goes to the
  // source directly.
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) override;

 private:
  struct Slot {
    DecodeBuffer bytes;
    uint64_t start = 0;
    size_t filled = 0;
    uint64_t used = 0;  // when it last served a read
  };

  // The window holding [offset, offset + length), refilled from `offset` in
  // the least recently used one if none does; null when the source could
  // not give what the file holds there.
  Slot* Find(uint64_t offset, size_t length);

  ByteSource& source_;
  uint64_t size_;
  size_t capacity_;
  size_t count_;
  Slot slots_[kSlotsMax];
  uint64_t clock_ = 0;
  bool failed_ = false;
};
