#include "update/codec/gathered_copies.h"

#include <algorithm>

#include "update/codec/source_window.h"

namespace {

// The pass through the source reads this much at a time.
constexpr size_t kFillWindow = 256 * 1024;

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
  return true;
}

DecodeError GatheredCopies::Fill(ByteSource& source) {
  if (count_ == 0) return DecodeError::None;
  bytes_ = AllocateDecodeBuffer(total_);
  SourceWindow window(source, kFillWindow);
  if (!bytes_ || !window.Allocate()) return DecodeError::OutOfMemory;
  std::sort(copies_.begin(), copies_.end(),
            [](const Copy& a, const Copy& b) { return a.position < b.position; });
  for (const Copy& copy : copies_) {
    uint32_t got = 0;
    if (!window.ReadAt(copy.position, bytes_.get() + copy.offset, copy.length, &got) ||
        got != copy.length) {
      return DecodeError::SourceUnreadable;
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
