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

// One command as CommandReader gave it: where it begins in the new file,
// its copy and insertion, or why it could not be read.
struct Command {
  DecodeError error = DecodeError::None;
  uint64_t newStart = 0;
  uint64_t position = 0;
  uint64_t copy = 0;
  uint64_t insert = 0;
};

// The commands read one ahead: while a copy is made, the place of the next
// one is known, and what it will look up can be fetched into the cache
// (copies jump about the old file, and their look-ups miss it). A command
// that cannot be read is reported in its turn, after those before it.
class CommandLookahead {
 public:
  explicit CommandLookahead(CommandReader& commands) : commands_(commands) {}

  bool Done() const { return primed_ ? !hasAhead_ : commands_.Done(); }
  // The next command; an error ends the reading.
  DecodeError Next(Command* command) {
    if (!primed_) {
      primed_ = true;
      hasAhead_ = !commands_.Done();
      if (hasAhead_) Read(&ahead_);
    }
    *command = ahead_;
    if (command->error != DecodeError::None) return command->error;
    hasAhead_ = !commands_.Done();
    if (hasAhead_) Read(&ahead_);
    return DecodeError::None;
  }
  // The command after the one Next gave last, when there is one and it was
  // read.
  const Command* Following() const {
    return hasAhead_ && ahead_.error == DecodeError::None ? &ahead_ : nullptr;
  }

 private:
  void Read(Command* command) {
    command->newStart = commands_.Produced();
    command->error = commands_.Next(&command->position, &command->copy, &command->insert);
  }

  CommandReader& commands_;
  Command ahead_;
  bool primed_ = false;
  bool hasAhead_ = false;
};
