// Predicting the x86 branches in a delta's copied runs (delta filter 1).
//
// When a program is rebuilt, code moves: a call whose target moved by a
// different distance than the call itself gets a new 32-bit displacement,
// although nothing about it changed. Both sides of a delta know where every
// run of the old file went (the copy commands), so both can predict the new
// displacement of every call (E8) and jump (E9) in a copied run: the old
// displacement, plus how far its target moved, less how far the call moved.
// The delta then carries only the difference from the prediction, which is
// zero for every call whose target was found.
//
// Where runs went is summed up in a CopyMap: the copies of at least a given
// length (short ones are mostly chance matches), at most COPY_MAP_MAX_ENTRIES
// of them in command order, sorted by where they start in the old file. A
// position moved as far as the last of them that starts at or before it.
//
// A site is E8 or E9 followed by four bytes whose last is 00 or FF (a
// displacement within 16 MiB), all inside one copy, found scanning forwards
// and skipping the four bytes of each site found. Only sites whose target lies
// inside the old file are predicted. Portable; the encoder and the decoder
// run this same code, so they agree byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

constexpr size_t COPY_MAP_MAX_ENTRIES = size_t(1) << 16;

class CopyMap {
 public:
  explicit CopyMap(uint64_t minimumLength) : minimumLength_(minimumLength) {}

  // Called for every copy in command order; ignored once the map is full or
  // when the copy is shorter than the minimum. False when memory for the
  // map ran out (it grows as copies come, at most COPY_MAP_MAX_ENTRIES).
  bool Add(uint64_t oldStart, uint64_t newStart, uint64_t length);
  // Sorts the entries; call once after the last Add.
  void Finish();
  // How far the old position moved (new minus old, modulo 2^32).
  uint32_t ShiftAt(uint64_t oldPosition) const;
  uint64_t MinimumLength() const { return minimumLength_; }

 private:
  struct Entry {
    uint64_t oldStart;
    uint32_t shift;
    uint32_t order;  // of the command, so that equal starts keep it
  };
  uint64_t minimumLength_;
  std::unique_ptr<Entry[]> entries_;
  size_t count_ = 0;
  size_t capacity_ = 0;
};

// The bytes of a site that did not fit the chunk it began in, owed to the
// start of the next chunk of the same copy.
struct SiteCarry {
  unsigned char bytes[4] = {};
  size_t count = 0;
};

// Predicts `length` old bytes of a copy, starting at old position
// `oldPosition`, into `out` (`length` bytes). `old` holds them and
// `lookahead` more bytes of the same copy after them (at most 4 are looked
// at), so that a site near the chunk's end can be recognised; its bytes past
// the chunk go to `carry` for the next call. `copyShift` is how far this copy
// moved (new start minus old start, modulo 2^32), `oldSize` the old file's
// size. The first call of a copy passes an empty carry.
void PredictBranches(const CopyMap& map, uint64_t oldPosition, uint32_t copyShift, uint64_t oldSize,
                     const unsigned char* old, size_t length, size_t lookahead, unsigned char* out,
                     SiteCarry& carry);
