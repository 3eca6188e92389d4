// The references of an x86 or x64 image: every place in the file that holds
// the address of another place of the image, found the way the loader and
// the processor read them.
//
//   absolute  a 32-bit (x86) or 64-bit (x64) pointer the base-relocation
//             table lists: image base + target RVA;
//   relative  a call, jump or conditional jump displacement, or an x64
//             RIP-relative memory operand, found by walking the code
//             sections instruction by instruction (x86_instruction.h):
//             target RVA - RVA of the next instruction;
//   RVA       an entry of the exception table (x64 function starts, ends
//             and unwind data) or of the export tables: the target RVA.
//
// When code moves, every reference to anything behind it changes although
// nothing about it did; knowing them, the delta predicts the new values
// (pe_reference_model.h). Portable; the encoder and the decoder run this
// same code on the old file, so they find the same references.
//
// A relative candidate must reach into the image (a branch into a code
// section); one that overlaps an absolute reference is dropped. At an
// instruction boundary where the relocation table lists a pointer (a jump
// table inside code), the walk steps over the pointer as data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/base/byte_source.h"
#include "update/base/worker_thread.h"
#include "update/codec/growable_array.h"
#include "update/codec/pe_layout.h"

enum class ReferenceKind : uint8_t {
  Relative = 0,
  Absolute32 = 1,
  Absolute64 = 2,
  Rva = 3,
};

// The target of an absolute reference that points outside the image: its
// value is still moved with the image base, never with a target.
constexpr uint32_t REFERENCE_NO_TARGET = PE_IMAGE_SIZE_MAX - 1;
// At most this many references are modelled per file (8 bytes each): the
// decoder's working set is bounded by them.
constexpr size_t PE_REFERENCES_MAX = size_t(1) << 23;

struct PeReference {
  uint32_t location;  // file position of the reference's first byte
  uint32_t packed;    // target RVA in the low 30 bits, the kind in the top two

  static PeReference Make(uint32_t location, ReferenceKind kind, uint32_t target) {
    return PeReference{location, static_cast<uint32_t>(kind) << 30 | target};
  }
  ReferenceKind Kind() const { return static_cast<ReferenceKind>(packed >> 30); }
  uint32_t Target() const { return packed & (PE_IMAGE_SIZE_MAX - 1); }
};

inline size_t ReferenceWidth(ReferenceKind kind) {
  return kind == ReferenceKind::Absolute64 ? 8 : 4;
}

enum class ReferenceScan : uint8_t {
  Done = 0,
  Unreadable = 1,   // the source could not be read
  OutOfMemory = 2,  // the table could not grow
  TooMany = 3,      // more than PE_REFERENCES_MAX references
};

// A worker thread for the scan: a code section of at least `splitFrom` bytes
// is walked in two halves at once, the second on the worker, from its
// middle. Instructions found from a point in the middle are not those of a
// walk from the start until the two walks meet at an instruction both
// start; the second half's references count from there, and where the
// walks do not meet within `meetWithin` bytes, the first walks on alone.
// The references are those of one walk whatever the worker does.
struct ReferenceScanHelp {
  WorkerThread* worker = nullptr;  // the source's ReadAt must then be safe from two threads
  uint64_t splitFrom = uint64_t(1) << 20;
  uint32_t meetWithin = 16 * 1024;
};

// Every reference of the image in `source` (whose headers gave `layout`),
// sorted by location, none overlapping another.
ReferenceScan FindPeReferences(ByteSource& source, const PeLayout& layout,
                               GrowableArray<PeReference>* references,
                               const ReferenceScanHelp& help = ReferenceScanHelp());
