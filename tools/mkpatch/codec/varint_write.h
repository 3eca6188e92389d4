// Writing the numbers update/codec/varint.h reads: unsigned LEB128, and
// zigzag for signed ones.
#pragma once

#include <cstdint>
#include <vector>

inline void AppendVarint(std::vector<unsigned char>& out, uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<unsigned char>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<unsigned char>(value));
}

inline uint64_t ZigzagEncode(int64_t value) {
  return (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value < 0 ? -1 : 0);
}
