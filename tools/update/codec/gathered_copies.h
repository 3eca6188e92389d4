// The short copies of a delta, read ahead in one pass through the source.
//
// A delta of an image stitches its new file from a main run of the old file
// and, between its pieces, tens of thousands of copies of a few dozen bytes
// from anywhere in it (the same instructions, the same constants). Read
// where they are used, each costs a system call; from a first reading of
// the commands their places are known, so their bytes are read beforehand
// in the order of the source and kept in the order of the commands. Long
// copies still go through the decoder's source windows.
//
// Bounded: at most COPY_GATHER_BYTES of copies of at most
// COPY_GATHER_LONGEST bytes each, COPY_GATHER_COUNT of them; the first that
// would pass a bound ends the gathering, and the copies after it are read
// where they are used (the decoder asks for every copy in the same order,
// so both sides agree on which copies were gathered).
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/base/byte_source.h"
#include "update/codec/byte_stream.h"
#include "update/codec/growable_array.h"

constexpr uint64_t COPY_GATHER_LONGEST = 128;
constexpr size_t COPY_GATHER_BYTES = size_t(8) << 20;
constexpr size_t COPY_GATHER_COUNT = size_t(1) << 19;

class GatheredCopies {
 public:
  // The bounds (tests make them small).
  explicit GatheredCopies(uint64_t longest = COPY_GATHER_LONGEST,
                          size_t bytesMax = COPY_GATHER_BYTES, size_t countMax = COPY_GATHER_COUNT)
      : longest_(longest), bytesMax_(bytesMax), countMax_(countMax) {}

  // A copy of the first reading, in command order. False when memory ran out.
  bool Add(uint64_t position, uint64_t length);
  // Reads every gathered copy from `source` (the one the commands were
  // checked against), front to back.
  DecodeError Fill(ByteSource& source);
  // The bytes of the next copy in command order, or null when it was not
  // gathered: called for every copy, as Add was.
  const unsigned char* Take(uint64_t length);

 private:
  struct Copy {
    uint64_t position;
    uint32_t length;
    uint32_t offset;  // in bytes_, where it lies in command order
  };
  bool Gathers(uint64_t length) const { return length != 0 && length <= longest_; }

  uint64_t longest_;
  size_t bytesMax_;
  size_t countMax_;
  GrowableArray<Copy> copies_;  // emptied once filled
  size_t total_ = 0;            // bytes of the copies gathered
  size_t count_ = 0;            // copies gathered
  uint64_t last_ = 0;           // the place of the copy that starts last
  bool full_ = false;           // a bound was reached: no more are gathered
  DecodeBuffer bytes_;
  size_t taken_ = 0;  // copies taken so far
  size_t next_ = 0;   // offset of the next one
};
