// Where a Windows executable's sections lie in the file and in memory, read
// from its headers: what the reference-aware delta (delta_format.h, filter 2)
// needs to turn a file position into an address (RVA) and back, and where the
// tables of addresses are that the loader reads (relocations, exception
// entries, exports). Portable; every header field is untrusted.
//
// Only x86 and x64 images are modelled (the COFF machine field); any other
// machine, or headers that do not hold together, makes the file plain bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "update/base/byte_source.h"

enum class PeMachine : uint8_t { X86 = 1, X64 = 2 };

// The COFF machine field of a Windows image whose first `size` bytes are
// `bytes`, or 0 when they are not an image's headers. Whole files are
// compressed with the branch conversion its code suits (lzma_stream.h).
constexpr uint16_t COFF_MACHINE_X86 = 0x14C;
constexpr uint16_t COFF_MACHINE_X64 = 0x8664;
constexpr uint16_t COFF_MACHINE_ARM64 = 0xAA64;
uint16_t CoffMachineOf(const unsigned char* bytes, size_t size);

// The loader refuses more sections than this.
constexpr size_t PE_SECTIONS_MAX = 96;
// Images larger than this are left to the byte-level delta: reference targets
// are kept in 30 bits.
constexpr uint32_t PE_IMAGE_SIZE_MAX = uint32_t(1) << 30;
// The headers up to the end of the section table must lie within this many
// bytes of the file's start (they are read in one piece).
constexpr uint32_t PE_HEADERS_READ = 4096;

struct PeSection {
  uint32_t address = 0;  // RVA of the section's first byte
  uint32_t virtualSize = 0;
  uint32_t rawOffset = 0;  // file position of its data
  uint32_t rawSize = 0;    // bytes of data in the file (clipped to the file)
  bool code = false;       // holds code or is executable
};

struct PeDirectory {
  uint32_t address = 0;
  uint32_t size = 0;
};

struct PeLayout {
  PeMachine machine = PeMachine::X86;
  uint64_t imageBase = 0;
  uint32_t imageSize = 0;  // SizeOfImage
  std::vector<PeSection> sections;
  PeDirectory exports, exceptions, relocations;

  // The file position of `rva`, when file data lies there.
  bool RvaToOffset(uint32_t rva, uint32_t* offset) const;
  // The RVA of file position `offset`, when it lies in a section's data.
  bool OffsetToRva(uint64_t offset, uint32_t* rva) const;
  // The index of the section whose memory holds `rva`, or -1.
  int SectionOf(uint32_t rva) const;
  // The same three, each with the run of values around the one asked
  // about that map as it does, [*begin, *end): by the same section, with
  // *found the shift that maps them (modulo 2^32: RVA = position + shift,
  // position = RVA + shift) or the section's index. Many lookups near one
  // another then cost one search (LayoutCursor).
  bool OffsetToRvaRun(uint64_t offset, uint32_t* found, uint64_t* begin, uint64_t* end) const;
  bool RvaToOffsetRun(uint64_t rva, uint32_t* found, uint64_t* begin, uint64_t* end) const;
  bool SectionRun(uint64_t rva, uint32_t* found, uint64_t* begin, uint64_t* end) const;
};

// Lookups in one layout that mostly fall where the last one did (the
// references of a copy, a relocation block's entries, the targets of
// calls): the run of the last one is remembered. As the PeLayout function
// that `kRun` extends; the layout is passed each time (the same one), so
// that a cursor refers to nothing and may live beside its layout.
template <bool (PeLayout::*kRun)(uint64_t, uint32_t*, uint64_t*, uint64_t*) const, bool kShift>
class LayoutCursor {
 public:
  // The position, RVA or section index `value` maps to; false where no
  // section holds it.
  bool Map(const PeLayout& layout, uint64_t value, uint32_t* mapped) {
    if (value < begin_ || value >= end_) {
      if (!(layout.*kRun)(value, &found_, &begin_, &end_)) {
        begin_ = 1;
        end_ = 0;
        return false;
      }
    }
    *mapped = kShift ? static_cast<uint32_t>(value) + found_ : found_;
    return true;
  }

 private:
  uint32_t found_ = 0;
  uint64_t begin_ = 1;  // an empty run
  uint64_t end_ = 0;
};

using RvaCursor = LayoutCursor<&PeLayout::OffsetToRvaRun, true>;
using OffsetCursor = LayoutCursor<&PeLayout::RvaToOffsetRun, true>;
using SectionCursor = LayoutCursor<&PeLayout::SectionRun, false>;

// Bytes of file data a section maps (the smaller of its data and its size in
// memory, when that is given).
uint32_t MappedSize(const PeSection& section);

// Reads the headers of a PE image from `source`. False for anything that is
// not a well-formed x86 or x64 image this model takes.
bool ReadPeLayout(ByteSource& source, PeLayout* layout);
// The same from the headers in memory (`size` bytes of a file of `fileSize`).
bool ParsePeLayout(const unsigned char* bytes, size_t size, uint64_t fileSize, PeLayout* layout);
