// Finding the next x86 call or jump opcode (E8 or E9) four bytes at a time:
// the branch filters look at every byte of a file, and most are neither.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// The index of the first E8 or E9 in bytes[from, end), or `end`.
inline size_t NextBranchOpcode(const unsigned char* bytes, size_t from, size_t end) {
  size_t at = from;
  for (; at + 4 <= end; at += 4) {
    uint32_t word;
    std::memcpy(&word, bytes + at, 4);
    // E8 and E9 differ in the lowest bit only: with it set, a byte of either
    // becomes zero under the XOR, and the classic test finds a zero byte.
    const uint32_t folded = (word | 0x01010101u) ^ 0xE9E9E9E9u;
    if (((folded - 0x01010101u) & ~folded & 0x80808080u) != 0) break;
  }
  for (; at < end; ++at) {
    if ((bytes[at] | 1) == 0xE9) return at;
  }
  return end;
}
