// The hash of a fixed-size window of bytes that slides one byte at a time in
// constant time (a polynomial over 64-bit integers), so that every position
// of a new file can be looked up among the old file's blocks. Integer
// arithmetic only: the same values on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class RollingHash {
 public:
  explicit RollingHash(size_t window) : window_(window), powers_(window) {
    uint64_t power = 1;
    for (size_t i = window; i-- > 0;) {
      powers_[i] = power;
      power *= kMultiplier;
    }
    outFactor_ = window > 0 ? powers_[0] : 1;
  }

  size_t Window() const { return window_; }

  // Starts over with the window's bytes.
  void Reset(const unsigned char* bytes) {
    value_ = 0;
    for (size_t i = 0; i < window_; ++i) value_ = value_ * kMultiplier + bytes[i] + 1;
  }

  // The value Reset would give for `bytes`, without keeping it: a sum of
  // independent products rather than Horner's chain, several times faster
  // where every block of a file is hashed once.
  uint64_t Of(const unsigned char* bytes) const {
    uint64_t sums[4] = {0, 0, 0, 0};
    size_t i = 0;
    for (; i + 4 <= window_; i += 4) {
      for (size_t k = 0; k < 4; ++k) sums[k] += (uint64_t(bytes[i + k]) + 1) * powers_[i + k];
    }
    for (; i < window_; ++i) sums[0] += (uint64_t(bytes[i]) + 1) * powers_[i];
    return Mix(sums[0] + sums[1] + sums[2] + sums[3]);
  }

  // Slides the window one byte on: `out` leaves at the front, `in` enters at
  // the back.
  void Roll(unsigned char out, unsigned char in) {
    value_ = (value_ - (uint64_t(out) + 1) * outFactor_) * kMultiplier + in + 1;
  }

  // The polynomial's low bits depend on few of the bytes' bits; mixing
  // spreads every bit over the whole value before it picks a bucket.
  uint64_t Mixed() const { return Mix(value_); }

  static uint64_t Mix(uint64_t x) {
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDull;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ull;
    x ^= x >> 33;
    return x;
  }

 private:
  static constexpr uint64_t kMultiplier = 0x100000001B3ull;
  size_t window_;
  std::vector<uint64_t> powers_;  // powers_[i]: the weight of the window's byte i
  uint64_t outFactor_;
  uint64_t value_ = 0;
};
