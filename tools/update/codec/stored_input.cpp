#include "update/codec/stored_input.h"

namespace {

constexpr size_t kBufferSize = 64 * 1024;

}  // namespace

DecodeError StoredInput::Open(ByteSource* stored, uint64_t begin, uint64_t size) {
  stored_ = stored;
  next_ = begin;
  end_ = begin + size;
  position_ = size_ = 0;
  if (size == 0) return DecodeError::None;
  if (!buffer_) buffer_ = AllocateDecodeBuffer(kBufferSize);
  return buffer_ ? DecodeError::None : DecodeError::OutOfMemory;
}

DecodeError StoredInput::Fill() {
  if (position_ < size_ || next_ == end_) return DecodeError::None;
  const uint64_t left = end_ - next_;
  const uint32_t want = static_cast<uint32_t>(left < kBufferSize ? left : kBufferSize);
  uint32_t got = 0;
  if (!stored_->ReadAt(next_, buffer_.get(), want, &got) || got != want) {
    return DecodeError::StoredUnreadable;
  }
  next_ += got;
  position_ = 0;
  size_ = got;
  return DecodeError::None;
}
