// Reading a delta's control stream (delta_format.h): numbers through a small
// buffer, and the commands checked against the source and the file they
// make. The decoder reads the stream twice when a filter needs the copies
// first (the copy map, the rebuilt relocation table), both times through
// these.
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/codec/byte_stream.h"
#include "update/codec/varint.h"

// Numbers and bytes from a stream, through a small buffer.
class StreamReader {
 public:
  // `malformed` is the refusal for a number or byte the stream cannot give.
  StreamReader(ByteStream& stream, DecodeError malformed)
      : stream_(stream), malformed_(malformed) {}

  // Inline where the buffer holds a whole number: the commands are read
  // twice, three numbers each, a few hundred thousand of them.
  DecodeError Number(uint64_t* value) {
    if (end_ - position_ < VARINT_MAX_BYTES) return NumberAfterFill(value);
    if (buffer_[position_] < 0x80) {
      *value = buffer_[position_++];
      return DecodeError::None;
    }
    const size_t used = ReadVarint(buffer_ + position_, VARINT_MAX_BYTES, value);
    if (used == 0) return malformed_;
    position_ += used;
    return DecodeError::None;
  }
  DecodeError Byte(unsigned char* value);
  // Whether the stream has nothing left.
  DecodeError AtEnd(bool* atEnd);
  // Nothing may follow what was read.
  DecodeError Finish();
  // The stream's bytes taken so far.
  uint64_t Consumed() const { return delivered_ - (end_ - position_); }

 private:
  // Keeps at least a whole number in the buffer while the stream has one.
  DecodeError Fill();
  DecodeError NumberAfterFill(uint64_t* value);

  ByteStream& stream_;
  DecodeError malformed_;
  unsigned char buffer_[4096];
  size_t position_ = 0;
  size_t end_ = 0;
  uint64_t delivered_ = 0;  // bytes the stream has given
  bool atEnd_ = false;
};

// The commands, checked against the source and the file they make: each
// yields where its copy begins in the source, and how much it copies and
// inserts.
class CommandReader {
 public:
  CommandReader(StreamReader& control, uint64_t sourceSize, uint64_t decodedSize)
      : control_(control), sourceSize_(sourceSize), decodedSize_(decodedSize) {}

  bool Done() const { return produced_ == decodedSize_; }
  uint64_t Produced() const { return produced_; }
  DecodeError Next(uint64_t* position, uint64_t* copy, uint64_t* insert);

 private:
  StreamReader& control_;
  uint64_t sourceSize_;
  uint64_t decodedSize_;
  uint64_t position_ = 0;
  uint64_t produced_ = 0;
};
