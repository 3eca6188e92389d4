#include "mkpatch/codec/block_index.h"

#include <algorithm>
#include <future>
#include <memory>
#include <stdexcept>

#include "mkpatch/codec/rolling_hash.h"
#include "update/base/md5.h"

namespace {

// Read a few MiB at a time: large enough that the reads cost nothing next to
// the hashing, small enough to stay out of the memory budget.
constexpr uint32_t kReadSize = uint32_t(4) << 20;

}  // namespace

template <typename Visit>
bool BlockIndex::ForEachBlock(ByteSource& old, MD5* digest, Visit visit) {
  const uint64_t size = old.Size();
  uint32_t readSize = static_cast<uint32_t>(kReadSize - kReadSize % blockSize_);
  if (size < readSize) readSize = static_cast<uint32_t>(size) + 1;
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[readSize]);
  RollingHash hash(blockSize_);
  uint64_t previous = 0;
  bool first = true;
  uint64_t block = 0;
  for (uint64_t done = 0; done < size;) {
    const uint64_t left = size - done;
    const uint32_t want = static_cast<uint32_t>(left < readSize ? left : readSize);
    uint32_t got = 0;
    if (!old.ReadAt(done, buffer.get(), want, &got) || got != want) return false;
    // The digest of the same bytes on another core meanwhile: it takes as
    // long as the hashing.
    std::future<void> digested;
    if (digest != nullptr) {
      digested = std::async(std::launch::async, [&] { digest->update(buffer.get(), want); });
    }
    for (uint32_t at = 0; at + blockSize_ <= want; at += static_cast<uint32_t>(blockSize_)) {
      const uint64_t mixed = hash.Of(buffer.get() + at);
      if (first || mixed != previous) visit(block, mixed);
      previous = mixed;
      first = false;
      ++block;
    }
    if (digested.valid()) digested.get();
    done += want;
  }
  return true;
}

bool BlockIndex::Build(ByteSource& old, size_t blockSize, MD5* digest) {
  blockSize_ = blockSize;
  const uint64_t blocks = old.Size() / blockSize;
  // Blocks are numbered in 32 bits; the caller's block size keeps far below.
  if (blocks > UINT32_MAX) throw std::length_error("too many blocks");
  // About two entries a bucket: one look-up of the bucket's start, one of
  // its few entries.
  bucketBits_ = 1;
  while (bucketBits_ < 40 && (uint64_t(1) << (bucketBits_ + 1)) <= blocks) ++bucketBits_;
  const size_t buckets = size_t(1) << bucketBits_;
  bucketStart_.assign(buckets + 1, 0);
  // Counted first, then placed: two reads of the file instead of a second
  // copy of every hash in memory.
  if (!ForEachBlock(old, digest,
                    [&](uint64_t, uint64_t mixed) { ++bucketStart_[Bucket(mixed)]; })) {
    return false;
  }
  uint32_t total = 0;
  for (size_t b = 0; b < buckets; ++b) {
    const uint32_t count = bucketStart_[b];
    bucketStart_[b] = total;
    total += count;
  }
  bucketStart_[buckets] = total;
  entries_.assign(total, Entry{0, 0});
  std::vector<uint32_t> next(bucketStart_.begin(), bucketStart_.end() - 1);
  if (!ForEachBlock(old, nullptr, [&](uint64_t block, uint64_t mixed) {
        entries_[next[Bucket(mixed)]++] =
            Entry{static_cast<uint32_t>(mixed), static_cast<uint32_t>(block)};
      })) {
    return false;
  }
  std::vector<uint32_t>().swap(next);
  SortAndTrimBuckets();
  return true;
}

void BlockIndex::SortAndTrimBuckets() {
  const size_t buckets = bucketStart_.size() - 1;
  uint32_t kept = 0;
  for (size_t b = 0; b < buckets; ++b) {
    Entry* begin = entries_.data() + bucketStart_[b];
    Entry* end = entries_.data() + bucketStart_[b + 1];
    std::sort(begin, end, [](const Entry& x, const Entry& y) {
      return x.check != y.check ? x.check < y.check : x.block < y.block;
    });
    bucketStart_[b] = kept;
    size_t sameCheck = 0;
    for (Entry* entry = begin; entry != end; ++entry) {
      sameCheck = (entry != begin && entry[-1].check == entry->check) ? sameCheck + 1 : 0;
      if (sameCheck < kMaxCandidates) entries_[kept++] = *entry;
    }
  }
  bucketStart_[buckets] = kept;
  // Not shrunk: a copy would need both sizes at once, for a few entries.
  entries_.resize(kept);
}

size_t BlockIndex::Candidates(uint64_t mixedHash, uint64_t (&starts)[kMaxCandidates]) const {
  const size_t bucket = Bucket(mixedHash);
  const uint32_t check = static_cast<uint32_t>(mixedHash);
  size_t count = 0;
  for (uint32_t i = bucketStart_[bucket]; i < bucketStart_[bucket + 1]; ++i) {
    const Entry& entry = entries_[i];
    if (entry.check < check) continue;
    if (entry.check > check || count == kMaxCandidates) break;
    starts[count++] = static_cast<uint64_t>(entry.block) * blockSize_;
  }
  return count;
}
