// Applying a delta (delta_format.h) to the installed source file, streamed:
// the working set is a few fixed buffers and the zstd windows, whatever the
// size of the source or the new file.
#pragma once

#include "update/codec/entry_codec.h"

DecodeError DecodeDelta(const DecodeRequest& request, DecodeSink& sink);

// Whether the delta models the references of an image (filter 2): it
// cannot be decoded without that image, not even against stand-in bytes.
bool DeltaNeedsImage(const DecodeRequest& request);

// What can be checked of a delta without its source: the header, and every
// stream decompressed to its end (zstd's own checks, the window's bound, the
// packed frame's size). For tools that check a payload without the game.
DecodeError CheckDeltaStreams(const DecodeRequest& request);
