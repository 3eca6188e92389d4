// Unsigned LEB128 numbers (seven bits a byte, low bits first, the high bit
// saying another byte follows) and zigzag signed numbers, as the delta's
// control stream and header store them. Readers refuse a number that does not
// fit 64 bits or spends more than ten bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t VARINT_MAX_BYTES = 10;

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

inline int64_t ZigzagDecode(uint64_t value) {
  return static_cast<int64_t>(value >> 1) ^ -static_cast<int64_t>(value & 1);
}

// Reads one number from `bytes` (`size` available). Returns the bytes it
// took, or 0 when the number is cut short or malformed.
inline size_t ReadVarint(const unsigned char* bytes, size_t size, uint64_t* value) {
  uint64_t result = 0;
  for (size_t i = 0; i < size && i < VARINT_MAX_BYTES; ++i) {
    const uint64_t part = bytes[i] & 0x7F;
    // The tenth byte holds the top bit only.
    if (i == VARINT_MAX_BYTES - 1 && part > 1) return 0;
    result |= part << (7 * i);
    if ((bytes[i] & 0x80) == 0) {
      *value = result;
      return i + 1;
    }
  }
  return 0;
}
