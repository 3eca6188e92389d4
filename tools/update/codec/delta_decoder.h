// Applying a delta (delta_format.h) to the installed source file, streamed:
// the working set is a few fixed buffers and the zstd windows, whatever the
// size of the source or the new file.
#pragma once

#include "update/codec/entry_codec.h"

DecodeError DecodeDelta(const DecodeRequest& request, DecodeSink& sink);

// How a delta makes its file, as its first two bytes say (delta_format.h):
// for tools that show or check a payload.
enum class DeltaWay {
  Unknown,                // too short, or a method or filter this build does not know
  Copies,                 // method 1 without a filter
  CopiesX86Branches,      // method 1, filter 1
  CopiesImageReferences,  // method 1, filter 2
  SourcePrefix,           // method 2
};
DeltaWay ReadDeltaWay(const DecodeRequest& request);
// The way in words ("copies, image references"), for people and scripts.
const char* DeltaWayText(DeltaWay way);

// Whether the delta models the references of an image (filter 2): it
// cannot be decoded without that image, not even against stand-in bytes.
inline bool DeltaNeedsImage(const DecodeRequest& request) {
  return ReadDeltaWay(request) == DeltaWay::CopiesImageReferences;
}

// What can be checked of a delta without its source: the header, and every
// stream decompressed to its end (zstd's own checks, the window's bound, the
// packed frame's size). For tools that check a payload without the game.
DecodeError CheckDeltaStreams(const DecodeRequest& request);
