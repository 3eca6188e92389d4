// Progress reports carry two 32-bit counters (bytes still to come, of a
// size). A file beyond 4 GiB is counted in units of 2^n bytes instead, the
// same n for both, so that the bar still runs from start to end.
#pragma once

#include <cstdint>

// The smallest shift that brings `total` within 32 bits.
inline int CounterShift(uint64_t total) {
  int shift = 0;
  while ((total >> shift) > UINT32_MAX) ++shift;
  return shift;
}

inline uint32_t ScaledCounter(uint64_t value, int shift) {
  return static_cast<uint32_t>(value >> shift);
}
