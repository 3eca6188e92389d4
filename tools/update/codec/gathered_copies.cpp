#include "update/codec/gathered_copies.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

// The pass through the source finds the copies by the page (a stretch of
// 2^kStretchBits bytes: they are put in order of their stretch by a counting
// sort, linear in their number, not of their exact place) and reads, in one,
// the copies of consecutive stretches whose gaps are shorter than kGapRead,
// up to kReadMax bytes: a few dozen bytes of copies lie every few KiB
// through an image, and reading all of it cost the decoder more than the
// copies' calls saved; a gap that costs less to read than a call is read
// through. Past 2^kStretchesBits stretches (sources beyond 4 GiB) the
// stretches grow instead, so that the count of each stays a bounded table.
constexpr unsigned kStretchBits = 12;
constexpr unsigned kStretchesBits = 20;
constexpr unsigned kStretchBitsMax = 28;  // a 256 MiB stretch, for sources up to 256 TiB
constexpr uint64_t kGapRead = 4 * 1024;
constexpr size_t kReadMax = 64 * 1024;  // and the window stays in the cache

}  // namespace

bool GatheredCopies::Add(uint64_t position, uint64_t length) {
  if (full_ || !Gathers(length)) return true;
  if (count_ == countMax_ || length > bytesMax_ - total_) {
    full_ = true;
    return true;
  }
  Copy copy;
  copy.position = position;
  copy.length = static_cast<uint32_t>(length);
  copy.offset = static_cast<uint32_t>(total_);
  if (!copies_.Push(copy)) return false;
  total_ += static_cast<size_t>(length);
  ++count_;
  if (position > last_) last_ = position;
  return true;
}

DecodeError GatheredCopies::Fill(ByteSource& source) {
  if (count_ == 0) return DecodeError::None;
  const uint64_t size = source.Size();
  // The commands were checked against the source; a copy past its end is
  // refused all the same.
  if (last_ >= size) return DecodeError::SourceUnreadable;
  unsigned shift = kStretchBits;
  while ((last_ >> shift) >> kStretchesBits != 0 && shift < kStretchBitsMax) ++shift;
  if ((last_ >> shift) >> kStretchesBits != 0) return DecodeError::OutOfMemory;
  const size_t stretches = static_cast<size_t>(last_ >> shift) + 1;
  // A stretch's copies fit in one read, whatever the stretch.
  const size_t stretchSpan = (size_t(1) << shift) + static_cast<size_t>(longest_);
  const size_t span = stretchSpan > kReadMax ? stretchSpan : kReadMax;
  bytes_ = AllocateDecodeBuffer(total_);
  DecodeBuffer window = AllocateDecodeBuffer(span);
  // Per stretch, where its copies begin in `order` (one more for the end).
  std::unique_ptr<uint32_t[]> first(new (std::nothrow) uint32_t[stretches + 1]());
  std::unique_ptr<uint32_t[]> order(new (std::nothrow) uint32_t[copies_.Size()]);
  if (!bytes_ || !window || !first || !order) return DecodeError::OutOfMemory;
  for (const Copy& copy : copies_) ++first[static_cast<size_t>(copy.position >> shift) + 1];
  for (size_t i = 0; i < stretches; ++i) first[i + 1] += first[i];
  for (size_t i = 0; i < copies_.Size(); ++i) {
    order[first[static_cast<size_t>(copies_[i].position >> shift)]++] = static_cast<uint32_t>(i);
  }
  // `first` now holds where each stretch's copies end. The bytes a
  // stretch's copies cover, from the first to the end of the last:
  const auto covered = [&](size_t begin, size_t end, uint64_t* low, uint64_t* high) {
    *low = UINT64_MAX;
    *high = 0;
    for (size_t i = begin; i < end; ++i) {
      const Copy& copy = copies_[order[i]];
      if (copy.position < *low) *low = copy.position;
      if (copy.position + copy.length > *high) *high = copy.position + copy.length;
    }
  };
  size_t next = 0;
  size_t stretch = 0;
  while (next < copies_.Size()) {
    while (first[stretch] == next) ++stretch;
    uint64_t start = 0, end = 0;
    covered(next, first[stretch], &start, &end);
    size_t through = first[stretch];
    // Stretches after it, while their copies lie close enough to be read
    // in the same call.
    for (size_t after = stretch + 1; after < stretches && through < copies_.Size(); ++after) {
      if ((uint64_t(after) << shift) > end + kGapRead) break;
      if (first[after] == through) continue;
      uint64_t low = 0, high = 0;
      covered(through, first[after], &low, &high);
      if (low > end + kGapRead || (high > end ? high : end) - start > span) break;
      if (high > end) end = high;
      through = first[after];
      stretch = after;
    }
    const uint32_t want = static_cast<uint32_t>((end < size ? end : size) - start);
    uint32_t got = 0;
    if (!source.ReadAt(start, window.get(), want, &got) || got != want) {
      return DecodeError::SourceUnreadable;
    }
    for (; next < through; ++next) {
      const Copy& copy = copies_[order[next]];
      if (copy.position - start + copy.length > got) return DecodeError::SourceUnreadable;
      std::memcpy(bytes_.get() + copy.offset, window.get() + (copy.position - start), copy.length);
    }
  }
  copies_ = GrowableArray<Copy>();
  return DecodeError::None;
}

const unsigned char* GatheredCopies::Take(uint64_t length) {
  if (taken_ == count_ || !Gathers(length) || length > total_ - next_) return nullptr;
  const unsigned char* bytes = bytes_.get() + next_;
  ++taken_;
  next_ += static_cast<size_t>(length);
  return bytes;
}
