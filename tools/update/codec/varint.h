// Reading unsigned LEB128 numbers (seven bits a byte, low bits first, the
// high bit saying another byte follows) and zigzag signed numbers, as the
// delta's control stream and header store them (mkpatch/codec/varint_write.h
// writes them). A number that does not fit 64 bits or spends more than ten
// bytes is refused.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t VARINT_MAX_BYTES = 10;

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
