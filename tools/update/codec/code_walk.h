// The walk through one code section of an x86 or x64 image: the relative
// references of the instructions that start in a stretch of it, and the
// targets of the relocation table's pointers inside the code, read from the
// bytes the walk reads anyway (one pass over the code, not two). A large
// section is walked by two of these at once, each through its own window
// into its own tables; pe_references.cpp joins the halves where their
// instructions meet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "update/base/little_endian.h"
#include "update/codec/growable_array.h"
#include "update/codec/pe_layout.h"
#include "update/codec/pe_references.h"
#include "update/codec/source_window.h"
#include "update/codec/x86_instruction.h"

// Each walker reads the file through a window of this many bytes.
constexpr size_t PE_SCAN_WINDOW = 64 * 1024;

// Adds `reference` to `table`: TooMany past PE_REFERENCES_MAX, OutOfMemory
// when the table cannot grow. (Here, not in a source file: the walk adds
// one for every few instructions.)
inline ReferenceScan AddReference(GrowableArray<PeReference>* table, const PeReference& reference) {
  if (table->Size() >= PE_REFERENCES_MAX) return ReferenceScan::TooMany;
  return table->Push(reference) ? ReferenceScan::Done : ReferenceScan::OutOfMemory;
}

// A pointer's target, from its bytes, when it points into the image.
inline void ReadPointerTarget(const unsigned char* bytes, const PeLayout& layout,
                              PeReference* pointer) {
  uint64_t value = ReadLe32(bytes);
  if (ReferenceWidth(pointer->Kind()) == 8) {
    value |= static_cast<uint64_t>(ReadLe32(bytes + 4)) << 32;
  }
  const uint64_t target = value - layout.imageBase;
  if (value >= layout.imageBase && target < layout.imageSize) {
    *pointer = PeReference::Make(pointer->location, pointer->Kind(), static_cast<uint32_t>(target));
  }
}

// The instructions a walk met in a stretch, in order, each with the number
// of references the walk had added before it.
class WalkedStarts {
 public:
  bool Add(uint64_t start, size_t referencesBefore);
  // Where `start` is among them, or false when the walk did not start an
  // instruction there.
  bool Find(uint64_t start, size_t* referencesBefore) const;

 private:
  struct Start {
    uint64_t start;
    size_t referencesBefore;
  };
  GrowableArray<Start> starts_;
};

class CodeWalker {
 public:
  // `pointers` holds the relocation table's pointers, sorted by location, in
  // its first `pointerCount` entries (it may be `out` itself, which the walk
  // then grows behind them); the targets of those in the code are written.
  CodeWalker(SourceWindow& window, const PeLayout& layout, const PeSection& section,
             GrowableArray<PeReference>* pointers, size_t pointerCount,
             GrowableArray<PeReference>* out);

  bool Allocate();

  // Walks the instructions that start in [at, until) and returns where the
  // next one starts: at or past `until`, or where the walk had to stop
  // (Status says why).
  uint64_t Walk(uint64_t at, uint64_t until);
  // The same one instruction at a time, so that every start is seen: each
  // is added to `record` when given; the walk stops at the first that
  // `meet` holds, when given, and returns it.
  uint64_t Step(uint64_t at, uint64_t until, WalkedStarts* record, const WalkedStarts* meet);

  ReferenceScan Status() const;
  // Where the section's code ends in the file.
  uint64_t End() const { return end_; }

 private:
  struct Block {
    uint64_t at;
    const unsigned char* bytes;
    size_t size;
    bool final;  // the section's last bytes
    size_t firstPointer, pastPointers;
  };

  // Half a window of code from `at` with the pointers that start in it
  // marked in the byte map; false when it cannot be read.
  bool Enter(uint64_t at, Block* block);
  // The block's instructions with a relative operand, as references: those
  // that reach into the image (a branch into a code section).
  void AddSites(const Block& block, size_t count);
  // The targets of the block's pointers; clears their marks.
  void Leave(const Block& block);
  // Whether a pointer starts in the block's [from, to), at most 16 bytes.
  bool PointerStarts(size_t from, size_t to) const;

  SourceWindow& window_;
  const PeLayout& layout_;
  const PeSection& section_;
  GrowableArray<PeReference>* pointers_;
  size_t pointerCount_;
  GrowableArray<PeReference>* out_;
  uint64_t end_;
  bool x64_;
  // The first pointer at or after the walk, once the walk has begun.
  size_t nextPointer_ = 0;
  bool begun_ = false;
  // Per byte of the walked block, the width of a pointer starting there.
  std::unique_ptr<uint8_t[]> marks_;
  std::unique_ptr<X86OperandSite[]> sites_;
  SectionCursor sections_;
  ReferenceScan status_ = ReferenceScan::Done;
};
