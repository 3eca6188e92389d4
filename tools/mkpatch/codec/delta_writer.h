// A delta's stored bytes (delta_format.h) from its raw streams: the header,
// then the streams compressed with zstd, in whichever layout is smaller.
#pragma once

#include <vector>

#include "delta_streams.h"

std::vector<unsigned char> WriteDelta(const DeltaStreams& streams, int level);
