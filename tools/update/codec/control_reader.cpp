#include "update/codec/control_reader.h"

#include <cstring>

#include "update/codec/varint.h"

DecodeError StreamReader::NumberAfterFill(uint64_t* value) {
  if (DecodeError error = Fill(); error != DecodeError::None) return error;
  if (position_ == end_) return DecodeError::StreamShort;
  const size_t used = ReadVarint(buffer_ + position_, end_ - position_, value);
  if (used == 0) return malformed_;
  position_ += used;
  return DecodeError::None;
}

DecodeError StreamReader::Byte(unsigned char* value) {
  if (DecodeError error = Fill(); error != DecodeError::None) return error;
  if (position_ == end_) return malformed_;
  *value = buffer_[position_++];
  return DecodeError::None;
}

DecodeError StreamReader::AtEnd(bool* atEnd) {
  if (DecodeError error = Fill(); error != DecodeError::None) return error;
  *atEnd = position_ == end_;
  return DecodeError::None;
}

DecodeError StreamReader::Finish() {
  if (position_ != end_) return DecodeError::StreamLong;
  return stream_.Finish();
}

DecodeError StreamReader::Fill() {
  if (end_ - position_ >= VARINT_MAX_BYTES || atEnd_) return DecodeError::None;
  std::memmove(buffer_, buffer_ + position_, end_ - position_);
  end_ -= position_;
  position_ = 0;
  size_t produced = 0;
  DecodeError error = stream_.Read(buffer_ + end_, sizeof buffer_ - end_, &produced);
  if (error != DecodeError::None) return error;
  if (produced < sizeof buffer_ - end_) atEnd_ = true;
  end_ += produced;
  delivered_ += produced;
  return DecodeError::None;
}

DecodeError CommandReader::Next(uint64_t* position, uint64_t* copy, uint64_t* insert) {
  uint64_t seek = 0;
  DecodeError error = control_.Number(&seek);
  if (error == DecodeError::None) error = control_.Number(copy);
  if (error == DecodeError::None) error = control_.Number(insert);
  if (error != DecodeError::None) return error;
  const int64_t move = ZigzagDecode(seek);
  if (move < 0 ? static_cast<uint64_t>(-(move + 1)) + 1 > position_
               : static_cast<uint64_t>(move) > sourceSize_ - position_) {
    return DecodeError::SeekOutside;
  }
  position_ += static_cast<uint64_t>(move);
  const uint64_t left = decodedSize_ - produced_;
  if (*copy == 0 && *insert == 0) return DecodeError::CommandEmpty;
  if (*copy > left || *insert > left - *copy) return DecodeError::CommandPastEnd;
  if (*copy > sourceSize_ - position_) return DecodeError::CopyPastSource;
  *position = position_;
  position_ += *copy;
  produced_ += *copy + *insert;
  return DecodeError::None;
}
