// Where the old file's blocks lie, by the hash of their bytes: the old file
// cut into blocks of a fixed size at multiples of it, each remembered by its
// number under its hash (RollingHash). Any run of at least two blocks' length
// that the new file shares with the old one holds a whole block, so looking
// up the window at every position of the new file finds it. The memory is
// about ten bytes a block whatever the files, and the file is read twice,
// front to back, never held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "update/base/byte_source.h"

class MD5;

class BlockIndex {
 public:
  // Indexes `old` in blocks of `blockSize` bytes; `digest`, when given, is
  // fed every byte of the file on the way. False when the file could not be
  // read whole.
  bool Build(ByteSource& old, size_t blockSize, MD5* digest);

  size_t BlockSize() const { return blockSize_; }

  // The starts of up to kMaxCandidates old blocks whose hash is `mixedHash`
  // (RollingHash::Mixed), lowest first; how many were written to `starts`.
  static constexpr size_t kMaxCandidates = 4;
  size_t Candidates(uint64_t mixedHash, uint64_t (&starts)[kMaxCandidates]) const;

 private:
  struct Entry {
    uint32_t check;  // the hash's low bits, to tell blocks of one bucket apart
    uint32_t block;
  };

  size_t Bucket(uint64_t mixedHash) const {
    return static_cast<size_t>(mixedHash >> (64 - bucketBits_));
  }
  // Calls `visit(block, mixedHash)` for every block that is not a repeat of
  // the block before it (a run of zeros is worth one entry, not millions).
  template <typename Visit>
  bool ForEachBlock(ByteSource& old, MD5* digest, Visit visit);
  // Sorts each bucket by check and keeps at most kMaxCandidates blocks of one
  // hash, so that a block repeated all over the file costs a bounded look-up.
  void SortAndTrimBuckets();

  size_t blockSize_ = 0;
  unsigned bucketBits_ = 1;
  std::vector<uint32_t> bucketStart_;  // bucketStart_[b] .. bucketStart_[b + 1]
  std::vector<Entry> entries_;
};
