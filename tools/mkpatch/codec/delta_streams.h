// Turning an old and a new file into the three streams of a delta
// (delta_format.h): the commands, the byte differences of copied runs and the
// inserted bytes. Aligning the files gives the commands; the streams are
// written from them, raw; delta_writer.h compresses them.
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

#include "mkpatch/codec/suffix_index.h"

// One pairing: `copy` bytes of the new file from the old file at
// `oldPosition` (with differences), then `insert` bytes of its own. The
// commands cover the new file in order.
struct DeltaCommand {
  uint64_t oldPosition;
  uint64_t copy;
  uint64_t insert;
};

struct DeltaStreams {
  uint8_t filter = 0;       // DELTA_FILTER_*
  uint64_t mapMinimum = 0;  // the copy map's shortest copy, for the x86 branch filter
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

std::vector<DeltaCommand> AlignFiles(const SuffixIndex& old, const unsigned char* target,
                                     size_t targetSize, const AlignOptions& options,
                                     const AlignProgress& progress);

// The control stream of `commands`, appended to `out`.
void WriteControl(const std::vector<DeltaCommand>& commands, std::vector<unsigned char>& out);

// The streams for `commands`, unfiltered (`mapMinimum` 0) or with the x86
// branch filter and a copy map of the copies of at least `mapMinimum` bytes.
DeltaStreams WriteStreams(const unsigned char* old, size_t oldSize, const unsigned char* target,
                          const std::vector<DeltaCommand>& commands, uint64_t mapMinimum);

// Rewrites, in place, the source bytes of one copy (`command`, made at new
// position `newPosition`) as the decoder will predict them.
using CopyPredictor =
    std::function<void(const DeltaCommand& command, uint64_t newPosition, unsigned char* bytes)>;

// The streams for `commands` copying from `source`, each copy predicted by
// `predict`, the control stream starting with `preamble`.
DeltaStreams WritePredictedStreams(const unsigned char* source, const unsigned char* target,
                                   const std::vector<DeltaCommand>& commands,
                                   const CopyPredictor& predict,
                                   const std::vector<unsigned char>& preamble);
