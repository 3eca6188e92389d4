// A delta's stored bytes (delta_format.h, method 1, separate layout) written
// from its commands in one walk over the two files, for files too large to
// hold: the differences and insertions go straight into their zstd frames,
// only the compressed bytes are kept. The differences are written both as
// they are and sparse, and the smaller layout is returned (the plain one on a
// tie). Unfiltered: the x86 branch filter's copy map would need the whole
// control stream before the first byte.
#pragma once

#include <cstdint>
#include <vector>

#include "mkpatch/codec/chunk_cache.h"
#include "mkpatch/codec/delta_streams.h"

class MD5;

// `commands` cover `target` in order; `progress` is told how many bytes of
// the new file are written; `digest`, when given, is fed every byte
// of the new file on the way.
std::vector<unsigned char> WriteStreamedDelta(ChunkCache& old, ChunkCache& target,
                                              const std::vector<DeltaCommand>& commands, int level,
                                              const AlignProgress& progress, MD5* digest);
