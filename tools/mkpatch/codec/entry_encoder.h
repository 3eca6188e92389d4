// Choosing how mkpatch stores one file: as it is, compressed, or as a delta
// against the old build's file. Deterministic: the same inputs give the same
// bytes on every platform, so mkpatch and mkpatch.exe write identical files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "update/codec/entry_codec.h"

struct EncodedData {
  EntryCoding coding = EntryCoding::Stored;
  std::vector<unsigned char> bytes;  // what goes into the payload after the descriptor
};

// Told how far an encoding has come, in bytes of the file being encoded.
using EncodeProgress = std::function<void(uint64_t done, uint64_t total)>;

// The smaller of the file stored as it is and compressed (stored on a tie).
EncodedData EncodeWhole(const unsigned char* data, size_t size,
                        const EncodeProgress& progress = nullptr);

// The smallest delta that turns `source` into `target`, or the smaller of the
// whole encodings when no delta is smaller than those. Without
// `modelReferences` two images are treated as plain bytes (for benchmarks:
// what the reference model saves).
EncodedData EncodeChanged(const unsigned char* source, size_t sourceSize,
                          const unsigned char* target, size_t targetSize,
                          const EncodeProgress& progress = nullptr, bool modelReferences = true);
