// A delta's stored bytes (delta_format.h) from its raw streams: the header,
// then the streams compressed with zstd.
#pragma once

#include <vector>

#include "mkpatch/codec/delta_streams.h"

enum class DeltaLayoutChoice {
  Separate,        // three streams, the differences as they are
  SeparateSparse,  // three streams, the differences as pairs of a zero count and a byte
  Packed,          // one frame holding the three streams (at most DELTA_PACKED_MAX bytes)
};

// Whether `layout` can hold `streams`.
bool LayoutFits(DeltaLayoutChoice layout, const DeltaStreams& streams);

std::vector<unsigned char> WriteDelta(const DeltaStreams& streams, DeltaLayoutChoice layout,
                                      int level);

// The separate layout from its three streams already compressed: the header
// with `flags` (no filter number) and the streams' stored sizes, then the
// streams.
std::vector<unsigned char> JoinSeparate(uint8_t flags, const std::vector<unsigned char>& control,
                                        const std::vector<unsigned char>& difference,
                                        const std::vector<unsigned char>& insertion);
