// The bytes of a delta entry (EntryCoding::Delta): how the new file is made
// from the installed one. Written by mkpatch, read by the updater; every
// number below is untrusted on the reading side.
//
// Header (numbers are LEB128, varint.h):
//   byte    method, DELTA_METHOD_COPY_ADD
//   byte    filter, DELTA_FILTER_NONE
//   byte    layout, DeltaLayout
//   byte    zero
//   varint  control stream's decoded size
//   varint  difference stream's decoded size
//   varint  insertion stream's decoded size
//   Separate: varint stored size of the control stream, varint stored size
//             of the difference stream; then the control, difference and
//             insertion streams' stored bytes, each a sequence of zstd frames
//             (an empty stream stores nothing); the insertion stream takes the
//             rest of the entry.
//   Packed:   one sequence of zstd frames holding the three streams' decoded
//             bytes back to back (small deltas, where three frames would cost
//             more than the streams).
//
// Decoding keeps a position in the source file, starting at 0, and repeats
// until the new file is complete:
//   control: zigzag varint seek s, varint copy length c, varint insert length i
//   position moves by s;
//   the next c bytes of the new file are source[position + k] + difference[k]
//     (modulo 256) for k < c, and position advances by c;
//   the next i bytes come from the insertion stream.
// A command that makes no byte (c = i = 0) is refused, as is a position
// outside [0, source size] or a copy past the source's end. Each stream must
// be used up exactly when the new file is complete.
#pragma once

#include <cstdint>

constexpr uint8_t DELTA_METHOD_COPY_ADD = 1;
constexpr uint8_t DELTA_FILTER_NONE = 0;

enum class DeltaLayout : uint8_t {
  Separate = 0,
  Packed = 1,
};

// The packed layout is decoded in memory, so it is bounded.
constexpr uint64_t DELTA_PACKED_MAX = uint64_t(1) << 20;

// Every zstd frame in an entry keeps its window within this bound, so the
// updater's memory does not depend on the size of any file; the decoder
// refuses frames that ask for more.
constexpr int ENTRY_ZSTD_WINDOW_LOG_MAX = 24;
