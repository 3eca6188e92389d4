#include "codec_test_support.h"

#include <algorithm>

#include "update/base/little_endian.h"
#include "update/format/payload_table.h"

namespace {

void PutLe32(Bytes& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4 && at + i < bytes.size(); ++i) {
    bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
  }
}

}  // namespace

Bytes ProgramLike(size_t size, uint32_t seed) {
  TestGenerator random(seed);
  Bytes bytes;
  bytes.reserve(size);
  static const char kText[] = "runtime error: index out of range; panic: ";
  while (bytes.size() < size) {
    switch (random.Below(4)) {
      case 0:  // "code": opcodes with calls to nearby addresses
        for (int i = 0; i < 64; ++i) {
          bytes.push_back(static_cast<unsigned char>(0x8B + random.Below(3)));
          if (random.Below(4) == 0) {
            bytes.push_back(0xE8);
            const uint32_t target = random.Below(1 << 16);
            for (int k = 0; k < 4; ++k)
              bytes.push_back(static_cast<unsigned char>(target >> (8 * k)));
          }
        }
        break;
      case 1:  // a table of pointers into the image
        for (int i = 0; i < 32; ++i) {
          const uint32_t pointer = 0x00400000u + random.Below(1 << 20) * 4;
          for (int k = 0; k < 4; ++k)
            bytes.push_back(static_cast<unsigned char>(pointer >> (8 * k)));
        }
        break;
      case 2:
        bytes.insert(bytes.end(), kText, kText + sizeof kText - 1);
        break;
      default:
        for (int i = 0; i < 48; ++i) bytes.push_back(static_cast<unsigned char>(random.Next()));
        break;
    }
  }
  bytes.resize(size);
  return bytes;
}

Bytes NextBuild(const Bytes& old, uint32_t seed, uint32_t shift) {
  TestGenerator random(seed);
  Bytes next = old;
  // Pointers into the image move as code grows in front of what they point at.
  for (size_t at = 0; at + 4 <= next.size(); at += 4) {
    const uint32_t value = next[at] | next[at + 1] << 8 | next[at + 2] << 16 |
                           static_cast<uint32_t>(next[at + 3]) << 24;
    if (value >= 0x00480000u && value < 0x00500000u) PutLe32(next, at, value + shift);
  }
  for (size_t i = 0; i < next.size() / 997; ++i) {
    next[random.Below(static_cast<uint32_t>(next.size()))] ^= 0x5A;
  }
  if (!next.empty()) {
    const size_t insertAt = random.Below(static_cast<uint32_t>(next.size()));
    const Bytes block = ProgramLike(1 + next.size() / 50, seed + 7);
    next.insert(next.begin() + insertAt, block.begin(), block.end());
    const size_t removeAt = random.Below(static_cast<uint32_t>(next.size()));
    const size_t removed = std::min(next.size() - removeAt, next.size() / 40);
    next.erase(next.begin() + removeAt, next.begin() + removeAt + removed);
  }
  return next;
}

// Code as dense in calls as real code, calling a few functions from all
// over, with an opcode in each of the last bytes.
Bytes CallDense(size_t size) {
  Bytes code = ProgramLike(size, 23);
  for (size_t at = 5; at + 5 < code.size(); at += 11) {
    const uint32_t target = static_cast<uint32_t>((at * 2654435761u) % 64) * 4096;
    const uint32_t displacement = target - static_cast<uint32_t>(at + 5);
    code[at] = static_cast<unsigned char>(at % 3 == 0 ? 0xE9 : 0xE8);
    for (int k = 0; k < 4; ++k)
      code[at + 1 + k] = static_cast<unsigned char>(displacement >> (8 * k));
  }
  for (size_t back = 1; back <= 5; ++back) code[code.size() - back] = 0xE8;
  return code;
}

Bytes LaidOutAnew(const Bytes& code) {
  const size_t piece = 66;  // six call sites
  const size_t pieces = (code.size() - 5) / piece;
  Bytes next(code.begin(), code.begin() + 5);
  for (size_t k = 0; k < pieces; ++k) {
    const size_t from =
        5 + (k * 7919 % pieces) * piece;  // 7919: a prime above the count, so each piece once
    const size_t to = next.size();
    next.insert(next.end(), code.begin() + from, code.begin() + from + piece);
    for (size_t site = 0; site < piece; site += 11) {
      const uint32_t callee =
          ReadLe32(&code[from + site + 1]) + static_cast<uint32_t>(from + site + 5);
      WriteLe32(&next[to + site + 1], callee - static_cast<uint32_t>(to + site + 5));
    }
  }
  return next;
}

bool MemorySink::Write(const unsigned char* data, uint32_t length) {
  if (bytes.size() + length > failAfter) return false;
  bytes.insert(bytes.end(), data, data + length);
  return true;
}

DecodeError DecodeFrom(EntryCoding coding, const Bytes& data, uint64_t decodedSize,
                       ByteSource& source, DecodeSink& sink) {
  MemoryByteSource stored(data.data(), data.size());
  DecodeRequest request;
  request.coding = coding;
  request.stored = &stored;
  request.storedBegin = 0;
  request.storedSize = data.size();
  request.source = &source;
  request.decodedSize = decodedSize;
  return DecodeEntryData(request, sink);
}

DecodeError DecodeInMemory(EntryCoding coding, const Bytes& data, uint64_t decodedSize,
                           const Bytes& source, Bytes* out) {
  MemoryByteSource installed(source.data(), source.size());
  MemorySink sink;
  const DecodeError error = DecodeFrom(coding, data, decodedSize, installed, sink);
  *out = std::move(sink.bytes);
  return error;
}
