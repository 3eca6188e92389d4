// Shared by the codec tests: generated files that look like successive
// builds of a program, and decoding into memory with every byte counted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mkpatch/codec/entry_encoder.h"
#include "update/codec/entry_codec.h"

using Bytes = std::vector<unsigned char>;

// A small linear congruential generator: the same numbers on every platform.
class TestGenerator {
 public:
  explicit TestGenerator(uint32_t seed) : state_(seed * 2654435761u + 1) {}
  uint32_t Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return state_ >> 8;
  }
  uint32_t Below(uint32_t bound) { return bound == 0 ? 0 : Next() % bound; }

 private:
  uint32_t state_;
};

// `size` bytes of a deterministic mix: runs of structured "code" with 32-bit
// little-endian pointers, text, and noise, all from `seed`.
Bytes ProgramLike(size_t size, uint32_t seed);

// The next build of `old`: pointers moved by `shift`, some bytes changed, a
// block inserted and one removed, all chosen by `seed`.
Bytes NextBuild(const Bytes& old, uint32_t seed, uint32_t shift = 0x40);

// Code as dense in calls as real code, calling a few functions from all
// over, with an opcode in each of the last bytes.
Bytes CallDense(size_t size);

// CallDense code with its functions laid out anew in pieces of 66 bytes, in
// another order, the calls linked again to where their callees stayed.
Bytes LaidOutAnew(const Bytes& code);

// Counts and keeps what the decoder writes; refuses writes after `failAfter`
// bytes when set.
class MemorySink : public DecodeSink {
 public:
  bool Write(const unsigned char* data, uint32_t length) override;
  Bytes bytes;
  uint64_t failAfter = UINT64_MAX;
};

// Decodes `data` as entry data of `coding` for a file of `decodedSize`
// bytes, against `source`, into `sink`.
DecodeError DecodeFrom(EntryCoding coding, const Bytes& data, uint64_t decodedSize,
                       ByteSource& source, DecodeSink& sink);

// The same against `source` in memory (may be empty), into `out`.
DecodeError DecodeInMemory(EntryCoding coding, const Bytes& data, uint64_t decodedSize,
                           const Bytes& source, Bytes* out);
