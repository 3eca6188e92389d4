// Turning an old and a new file into the three streams of a delta
// (delta_format.h): the commands, the byte differences of copied runs and the
// inserted bytes. The streams are returned raw; delta_writer.h compresses them.
//
// The alignment is the one of "naive differences" (Percival, 2003): runs of
// the new file are paired with runs of the old file that match it in at least
// half their bytes, found from the longest exact matches a suffix array
// gives. In executables most of a changed run's bytes are the same and the
// rest differ by small amounts (addresses that moved), so the differences
// compress far better than the new bytes would.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "suffix_index.h"

struct DeltaStreams {
  std::vector<unsigned char> control;
  std::vector<unsigned char> difference;
  std::vector<unsigned char> insertion;
};

// Told how many bytes of the new file have been aligned so far.
using AlignProgress = std::function<void(uint64_t done, uint64_t total)>;

struct AlignOptions {
  // How many more matching bytes a new match must bring before the current
  // pairing is given up for it.
  int64_t switchMargin = 8;
};

DeltaStreams AlignFiles(const SuffixIndex& old, const unsigned char* target, size_t targetSize,
                        const AlignOptions& options, const AlignProgress& progress);
