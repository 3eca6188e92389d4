// The x86 branch conversion of whole files (EntryCoding::ZstdX86, and both
// files of a delta of method DELTA_METHOD_SOURCE_PREFIX_X86): every call
// (E8) and jump (E9) with a plausible four-byte displacement (one within
// 16 MiB) gets its absolute target instead, so all calls to one function
// become the same five bytes wherever they stand, which zstd then finds.
//
// The stored bytes are a varint (the stored size of the main stream), the
// main stream, then the flag stream, each a sequence of zstd frames without
// their magic number. The main stream is the file with targets for
// displacements (little-endian, target = displacement + the site's offset +
// 5, modulo 2^32). The flag stream has one byte for every E8 or E9 the main
// stream holds outside a converted site, scanning from the front: 1 when the
// four bytes after it were converted, 0 when not. The flags make the
// conversion exactly reversible whatever the bytes. Portable.
//
// Between two builds, a call from code that moved to a function that did not
// keeps its target but not its displacement: converted, it is the same bytes
// in both files, which the old file as the new one's prefix then finds
// (DELTA_METHOD_SOURCE_PREFIX_X86).
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/base/little_endian.h"
#include "update/codec/byte_stream.h"
#include "update/codec/opcode_scan.h"

// A call or jump opcode: where a site may begin.
inline bool IsX86BranchOpcode(unsigned char byte) { return byte == 0xE8 || byte == 0xE9; }

// Converts a whole file in place, calling `flag(converted)` for every call or
// jump opcode outside a converted site, in order: the one rule both halves
// share. A site is an opcode with four bytes after it whose highest is 00 or
// FF, a displacement within 16 MiB either way.
template <typename FlagSink>
void ConvertX86Sites(unsigned char* bytes, size_t size, FlagSink&& flag) {
  for (size_t at = NextBranchOpcode(bytes, 0, size); at < size;
       at = NextBranchOpcode(bytes, at + 1, size)) {
    const bool site = at + 4 < size && (bytes[at + 4] == 0x00 || bytes[at + 4] == 0xFF);
    flag(site);
    if (!site) continue;
    WriteLe32(bytes + at + 1, ReadLe32(bytes + at + 1) + static_cast<uint32_t>(at + 5));
    at += 4;
  }
}

// Undoes the conversion in place, a chunk of the main stream at a time,
// reading a flag for each opcode from `flags`.
class X86BranchRestorer {
 public:
  explicit X86BranchRestorer(ByteStream& flags) : flags_(flags) {}

  DecodeError Restore(unsigned char* bytes, size_t size);
  // The file has ended: a site cut short, or flags left over, is corrupt.
  DecodeError Finish();

 private:
  ByteStream& flags_;
  uint64_t offset_ = 0;   // file offset of the next byte
  int siteBytes_ = 0;     // bytes of a converted target still to restore
  uint32_t siteEnd_ = 0;  // offset after the site, subtracted byte by byte
  unsigned borrow_ = 0;
};
