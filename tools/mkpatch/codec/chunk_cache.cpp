#include "mkpatch/codec/chunk_cache.h"

#include <cstring>

ChunkCache::ChunkCache(ByteSource& source, size_t chunkSize, size_t slots)
    : source_(source), size_(source.Size()), chunkSize_(chunkSize), slots_(slots) {
  // A small file needs no more than its own size in any slot.
  const size_t slotSize = size_ < chunkSize_ ? static_cast<size_t>(size_) + 1 : chunkSize_;
  for (Slot& slot : slots_) slot.bytes.reset(new unsigned char[slotSize]);
}

const unsigned char* ChunkCache::Load(uint64_t position) {
  const uint64_t base = position & ~static_cast<uint64_t>(chunkSize_ - 1);
  Slot* chosen = nullptr;
  for (Slot& slot : slots_) {
    if (slot.length > 0 && slot.base == base) {
      chosen = &slot;
      break;
    }
  }
  if (chosen == nullptr) {
    chosen = &slots_.front();
    for (Slot& slot : slots_) {
      if (slot.used < chosen->used) chosen = &slot;
    }
    const uint64_t left = size_ - base;
    const uint32_t want = static_cast<uint32_t>(left < chunkSize_ ? left : chunkSize_);
    uint32_t got = 0;
    if (!source_.ReadAt(base, chosen->bytes.get(), want, &got) || got != want) {
      failed_ = true;
      std::memset(chosen->bytes.get(), 0, want);
    }
    chosen->base = base;
    chosen->length = want;
  }
  chosen->used = ++clock_;
  current_ = chosen->bytes.get();
  currentBase_ = chosen->base;
  currentLength_ = chosen->length;
  return current_;
}

void ChunkCache::Peek(uint64_t position, unsigned char* out, size_t length) {
  for (const Slot& slot : slots_) {
    if (slot.length > 0 && position >= slot.base && position - slot.base + length <= slot.length) {
      std::memcpy(out, slot.bytes.get() + (position - slot.base), length);
      return;
    }
  }
  uint32_t got = 0;
  if (!source_.ReadAt(position, out, static_cast<uint32_t>(length), &got) || got != length) {
    failed_ = true;
    std::memset(out, 0, length);
  }
}

namespace {

// How many of the first `length` bytes of `a` and `b` agree, eight at a time
// until the first word that differs.
size_t AgreeingPrefix(const unsigned char* a, const unsigned char* b, size_t length) {
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) break;
  }
  while (i < length && a[i] == b[i]) ++i;
  return i;
}

}  // namespace

uint64_t CommonLength(ChunkCache& target, uint64_t newAt, ChunkCache& old, uint64_t oldAt,
                      uint64_t limit) {
  if (newAt >= target.Size() || oldAt >= old.Size()) return 0;
  if (limit > target.Size() - newAt) limit = target.Size() - newAt;
  if (limit > old.Size() - oldAt) limit = old.Size() - oldAt;
  uint64_t done = 0;
  while (done < limit) {
    size_t newAvailable = 0, oldAvailable = 0;
    const unsigned char* a = target.Span(newAt + done, &newAvailable);
    const unsigned char* b = old.Span(oldAt + done, &oldAvailable);
    size_t step = newAvailable < oldAvailable ? newAvailable : oldAvailable;
    if (step > limit - done) step = static_cast<size_t>(limit - done);
    const size_t same = AgreeingPrefix(a, b, step);
    done += same;
    if (same < step) break;
  }
  return done;
}
