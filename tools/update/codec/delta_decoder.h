// Applying a delta (delta_format.h) to the installed source file, streamed:
// the working set is a few fixed buffers and the zstd windows, whatever the
// size of the source or the new file.
#pragma once

#include "update/codec/entry_codec.h"

DecodeError DecodeDelta(const DecodeRequest& request, DecodeSink& sink);
