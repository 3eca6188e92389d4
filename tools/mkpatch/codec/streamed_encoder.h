// Encoding files too large to hold in memory, read through ByteSources: a
// changed file as a delta whose alignment comes from the old file's blocks
// (block_align.h) instead of a suffix array, and a whole file compressed as
// it is read. Memory stays within the block index (about ten bytes per block
// of the old file, block_size_for keeps it under 1.3 GiB whatever the size)
// and the zstd contexts. Deterministic, like the in-memory encoder.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mkpatch/codec/entry_encoder.h"
#include "update/base/byte_source.h"

// Above this size (of either file) a changed file is aligned by blocks: the
// suffix array would take about seven bytes of memory per byte of the old
// file, and mkpatch.exe has 4 GiB of addresses at most.
constexpr uint64_t kStreamedEncodeThreshold = uint64_t(256) << 20;

bool NeedsStreamedEncoding(uint64_t oldSize, uint64_t newSize);

// The block size for an old file of `oldSize` bytes: 64 bytes, doubled as
// often as needed to keep the index under 2^27 blocks.
size_t BlockSizeFor(uint64_t oldSize);

struct StreamedEncoding {
  EncodedData data;
  unsigned char sourceMd5[16] = {};
  unsigned char targetMd5[16] = {};
};

// The smallest of the block-aligned delta and, where it can win, the whole
// file compressed (or stored). False when a file could not be read whole.
// Memory running out throws std::bad_alloc.
bool EncodeChangedStreamed(ByteSource& source, ByteSource& target, size_t blockSize,
                           const EncodeProgress& progress, StreamedEncoding* out);

// The whole file compressed at full strength while it is read, or stored
// when that is no larger.
bool EncodeWholeStreamed(ByteSource& data, const EncodeProgress& progress, StreamedEncoding* out);
