// Applying a delta (delta_format.h) to the installed source file, streamed:
// the working set is a few fixed buffers and the zstd windows, whatever the
// size of the source or the new file.
#pragma once

#include "update/codec/entry_codec.h"

DecodeError DecodeDelta(const DecodeRequest& request, DecodeSink& sink);

// How a delta makes its file, as its first two bytes say (delta_format.h):
// for tools that show or check a payload.
enum class DeltaWay {
  Unknown,                  // too short, or a method or filter this build does not know
  Copies,                   // method 1 without a filter
  CopiesX86Branches,        // method 1, filter 1
  CopiesImageReferences,    // method 1, filter 2
  SourcePrefix,             // method 2
  SourcePrefixX86Branches,  // method 3
};
DeltaWay ReadDeltaWay(const DecodeRequest& request);
// The way in words ("copies, image references"), for people and scripts.
const char* DeltaWayText(DeltaWay way);

// Whether the delta cannot be decoded against stand-in bytes of its
// source's size: one that models an image's references (filter 2) reads the
// image's layout, and one with converted branches (method 3) restores what
// the source makes of the new file. Other deltas decode against any bytes.
inline bool DeltaNeedsSource(const DecodeRequest& request) {
  const DeltaWay way = ReadDeltaWay(request);
  return way == DeltaWay::CopiesImageReferences || way == DeltaWay::SourcePrefixX86Branches;
}

// What can be checked of such a delta without its source: the header, and
// every stream decompressed to its end (zstd's own checks, the window's
// bound, the packed frame's size; a prefix delta's main stream to
// `request.decodedSize` bytes against `request.source` standing in for the
// source). For tools that check a payload without the game.
DecodeError CheckDeltaStreams(const DecodeRequest& request);
