#include "update/codec/source_window.h"

#include <cstring>

SourceWindow::SourceWindow(ByteSource& source, size_t capacity, size_t count)
    : source_(source),
      size_(source.Size()),
      capacity_(capacity),
      count_(count == 0          ? 1
             : count < kSlotsMax ? count
                                 : kSlotsMax) {}

bool SourceWindow::Allocate() {
  for (size_t i = 0; i < count_; ++i) {
    slots_[i].bytes = AllocateDecodeBuffer(capacity_);
    if (!slots_[i].bytes) return false;
  }
  return true;
}

SourceWindow::Slot* SourceWindow::Find(uint64_t offset, size_t length) {
  Slot* oldest = &slots_[0];
  for (size_t i = 0; i < count_; ++i) {
    Slot& slot = slots_[i];
    if (offset >= slot.start && offset - slot.start <= slot.filled &&
        length <= slot.filled - (offset - slot.start)) {
      slot.used = ++clock_;
      return &slot;
    }
    if (slot.used < oldest->used) oldest = &slot;
  }
  const uint64_t left = size_ - offset;
  const uint32_t want = static_cast<uint32_t>(left < capacity_ ? left : capacity_);
  uint32_t got = 0;
  // Nothing stale is kept: a failed fill leaves the window empty.
  oldest->start = offset;
  oldest->filled = 0;
  oldest->used = ++clock_;
  if (!source_.ReadAt(offset, oldest->bytes.get(), want, &got) || got != want) {
    failed_ = true;
    return nullptr;
  }
  oldest->filled = got;
  return oldest;
}

const unsigned char* SourceWindow::At(uint64_t offset, size_t length) {
  if (offset > size_ || length > size_ - offset || length > capacity_ / 2) return nullptr;
  const Slot* slot = Find(offset, length);
  return slot != nullptr ? slot->bytes.get() + (offset - slot->start) : nullptr;
}

bool SourceWindow::ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) {
  *bytesRead = 0;
  if (offset >= size_ || length == 0) return true;
  const uint64_t left = size_ - offset;
  const uint32_t want = static_cast<uint32_t>(length < left ? length : left);
  if (want >= capacity_ / 2) return source_.ReadAt(offset, buffer, want, bytesRead);
  const Slot* slot = Find(offset, want);
  if (slot == nullptr) return false;
  std::memcpy(buffer, slot->bytes.get() + (offset - slot->start), want);
  *bytesRead = want;
  return true;
}
