// Aligning a new file with an old one too large to suffix-sort: exact
// matches are found through the old file's blocks (block_index.h), rsync's
// way, and then paired as the suffix-array alignment pairs its matches
// (delta_streams.h): a pairing is kept across changed bytes while it still
// matches, stretched over the bytes around it while at least half of them
// agree, and left only for a match that is clearly better. Both files are
// read through chunk caches, never held whole; the memory is the index's.
#pragma once

#include <cstdint>
#include <vector>

#include "mkpatch/codec/block_index.h"
#include "mkpatch/codec/chunk_cache.h"
#include "mkpatch/codec/delta_streams.h"

struct BlockAlignOptions {
  // How many more matching bytes a match must bring before the current
  // pairing is given up for it.
  int64_t switchMargin = 8;
  // After changed bytes, this many agreeing bytes of the current pairing
  // resume it without a look-up.
  uint64_t resumeLength = 32;
  // Stretching a match backwards stops once its score has fallen this far
  // below its best: past that, the bytes before it belong to the pairing
  // before (which was found first and covers them).
  int64_t backwardGiveUp = 4096;
};

// The commands that make `target` from `old`, covering the new file in
// order. `index` was built from `old`.
std::vector<DeltaCommand> AlignByBlocks(const BlockIndex& index, ChunkCache& old,
                                        ChunkCache& target, const BlockAlignOptions& options,
                                        const AlignProgress& progress);
