#include "update/codec/gathered_copies.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

// The pass through the source reads a stretch of 2^kStretchBits bytes at a
// time, with the longest copy's bytes after it, and serves every copy that
// starts in it: copies are put in order of their stretch (a counting sort,
// linear in their number), not of their exact place. Past 2^kStretchesBits
// stretches (sources beyond 256 GiB) the stretches grow instead, so that the
// count of each stays a bounded table.
constexpr unsigned kStretchBits = 18;
constexpr unsigned kStretchesBits = 20;
constexpr unsigned kStretchBitsMax = 28;  // a 256 MiB stretch, for sources up to 256 TiB

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
  unsigned shift = kStretchBits;
  while ((last_ >> shift) >> kStretchesBits != 0 && shift < kStretchBitsMax) ++shift;
  if ((last_ >> shift) >> kStretchesBits != 0) return DecodeError::OutOfMemory;
  const size_t stretches = static_cast<size_t>(last_ >> shift) + 1;
  const size_t span = (size_t(1) << shift) + static_cast<size_t>(longest_);
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
  // `first` now holds where each stretch's copies end.
  size_t next = 0;
  for (size_t stretch = 0; stretch < stretches; ++stretch) {
    if (next == first[stretch]) continue;
    const uint64_t start = uint64_t(stretch) << shift;
    const uint64_t left = size - start;
    const uint32_t want = static_cast<uint32_t>(left < span ? left : span);
    uint32_t got = 0;
    if (!source.ReadAt(start, window.get(), want, &got) || got != want) {
      return DecodeError::SourceUnreadable;
    }
    for (; next < first[stretch]; ++next) {
      const Copy& copy = copies_[order[next]];
      // The commands were checked against the source; a copy past its end
      // is refused all the same.
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
