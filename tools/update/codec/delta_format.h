// The bytes of a delta entry (EntryCoding::Delta): how the new file is made
// from the installed one. Written by mkpatch, read by the updater; every
// number below is untrusted on the reading side. The first byte names the
// method.
//
// Method 2, DELTA_METHOD_SOURCE_PREFIX: the rest is one zstd frame without
// its magic number, compressed with the whole source file as its prefix (the
// window the frame starts with), for sources of at most DELTA_PREFIX_MAX
// bytes. Between releases far apart most of a file is still made of pieces of
// the old one, too short and too scattered for copies; zstd's own matching
// finds them. The decoder holds the source and the frame's window: bounded by
// the two limits, whatever the files' sizes.
//
// Method 3, DELTA_METHOD_SOURCE_PREFIX_X86: method 2 with both files' x86
// branches converted (x86_branch_filter.h). After the method byte: a varint,
// the stored size of the main stream, which is one zstd frame without its
// magic number compressed with the whole converted source as its prefix;
// then the flag stream of the new file's conversion, zstd frames without
// their magic number taking the rest of the entry (nothing when the new
// file has no call or jump opcode). The decoder converts the source in
// place (only the new file is restored, so the source's flags are not
// needed), decodes the main stream and restores it on the way out. The
// bounds of method 2, and the flag stream's window besides.
//
// Method 1, DELTA_METHOD_COPY_ADD: copies of the source with differences, and
// insertions.
// Header (numbers are LEB128, varint.h):
//   byte    method, DELTA_METHOD_COPY_ADD
//   byte    flags: bits 0-1 the filter (DELTA_FILTER_*), DELTA_FLAG_SPARSE,
//           DELTA_FLAG_PACKED; the other bits zero
//   filters 1 and 2: varint, the shortest copy the copy map takes
//   separate layout only: varint stored size of the control stream, varint
//           stored size of the difference stream
// then the streams, each a sequence of zstd frames without their magic
// number (RFC 8878 frames from the frame header on: the entry says what they
// are, so the four bytes are not spent on every stream of every entry):
//   separate layout: the control, difference and insertion streams in that
//           order, the insertion stream taking the rest of the entry; an
//           empty stream stores nothing;
//   packed layout: one frame with its content size, at most
//           DELTA_PACKED_MAX bytes, holding the three streams back to back
//           (the control stream ends with the command that completes the
//           file, and the difference stream is as long as the copies).
//           Small deltas, where three frames would cost more than the data.
//
// Decoding keeps a position in the source file, starting at 0, and repeats
// until the new file is complete:
//   control: zigzag varint seek s, varint copy length c, varint insert length i
//   position moves by s;
//   the next c bytes of the new file are source[position + k] + difference[k]
//     (modulo 256) for k < c, and position advances by c; with the x86
//     branch filter, source bytes are first predicted (branch_prediction.h)
//     from a copy map of every command's copy, so the control stream is read
//     once before decoding to make it;
//   the next i bytes come from the insertion stream.
// A command that makes no byte (c = i = 0) is refused, as is a position
// outside [0, source size] or a copy past the source's end. Each stream must
// be used up exactly when the new file is complete.
//
// Sparse differences (separate layout only): the difference stream holds
// pairs of a varint z and a byte b other than 0, standing for z zero bytes
// and then b; once the pairs are used up, the remaining differences are zero.
// In executables most differences are zero, and runs between the others are
// shorter written as numbers than as zeros.
//
// Filter 2, DELTA_FILTER_PE_REFERENCES: the source is an x86 or x64 Windows
// image (pe_layout.h) and the delta models its references
// (pe_references.h): absolute pointers the base-relocation table lists,
// relative branch and call displacements and x64 RIP-relative operands found
// by walking the code sections, and the RVAs of the exception and export
// tables. Before the differences are added, every reference of the source
// that lies wholly inside a copy is rewritten as the new file would have it
// if it and its target only moved (pe_reference_model.h); a reference whose
// target only moved then costs nothing. The control stream starts with a
// preamble (numbers as above; "zigzag" is a zigzag varint):
//   zigzag  the new image base minus the old one (64-bit, modulo 2^64)
//   varint  n, the new image's sections (at most PE_SECTIONS_MAX), then for
//           each: zigzag differences of its RVA, size in memory, file
//           position and file size from the old section of the same index
//           (from 0 past the old sections); each result in 32 bits, RVA and
//           sizes at most PE_IMAGE_SIZE_MAX. The decoder turns the new
//           file's positions into RVAs with these, so it needs nothing of the
//           new file before making it.
//   then for each section of the source: varint, twice the zigzag of its
//           shift's difference from the default (pe_reference_model.h: how
//           far its targets move that the copies do not place; by default as
//           far as the new section of the same index, else not at all;
//           modulo 2^32 and at most 2^32 - 1 either way), plus 1 when the
//           copies place none of its targets
//   varint  r, the size of the new relocation table (see below)
//   varint  c, target corrections (at most the source's references), then
//           for each: varint the gap from the previous old target (from 0 for
//           the first, from the previous plus one after it: strictly rising
//           RVAs below REFERENCE_NO_TARGET), zigzag the change of the shift
//           (new target minus old target) from the previous correction's
//           (from 0); each new target in 32 bits
// and the commands follow. The copies read from the source file followed by
// r bytes of a relocation table built from it (relocation_table.h): the
// absolute pointers of the source inside every copy from the source, at the
// RVAs (of the new layout) where the copy puts them, sorted and each once.
// Its size must be r, or the delta is refused. The new file's own table is
// then mostly one copy of it, and entries only for pointers the copies do
// not bring cost bytes. The decoder reads the source's layout and
// references, then the preamble and the commands once (copy map, table)
// before it makes the first byte; its working set is bounded by the source's
// references (PE_REFERENCES_MAX; its pointers a second time apart), indexes
// of them, of the copies and of the target corrections (4 bytes per KiB of
// the source each), a cache of 16,384 mapped targets (128 KiB) and the
// table.
//
// Every delta of this method: the decoder reads the commands once before
// it makes the first byte and gathers the short copies' bytes in one pass
// through the source (gathered_copies.h, at most 8 MiB of them); the other
// copies read the source through a few small windows.
#pragma once

#include <cstdint>

constexpr uint8_t DELTA_METHOD_COPY_ADD = 1;
constexpr uint8_t DELTA_METHOD_SOURCE_PREFIX = 2;
constexpr uint8_t DELTA_METHOD_SOURCE_PREFIX_X86 = 3;

// The largest source a prefix delta (method 2 or 3) may use: the decoder
// reads it whole.
constexpr uint64_t DELTA_PREFIX_MAX = uint64_t(16) << 20;

constexpr uint8_t DELTA_FILTER_NONE = 0;
constexpr uint8_t DELTA_FILTER_X86_BRANCHES = 1;
constexpr uint8_t DELTA_FILTER_PE_REFERENCES = 2;
constexpr uint8_t DELTA_FILTER_MASK = 0x03;
constexpr uint8_t DELTA_FLAG_SPARSE = 0x04;
constexpr uint8_t DELTA_FLAG_PACKED = 0x08;

// The packed layout is decoded in memory, so it is bounded.
constexpr uint64_t DELTA_PACKED_MAX = uint64_t(1) << 20;

// Every zstd frame in an entry keeps its window within this bound, so the
// updater's memory does not depend on the size of any file; the decoder
// refuses frames that ask for more.
constexpr int ENTRY_ZSTD_WINDOW_LOG_MAX = 24;
