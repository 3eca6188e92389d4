// The encoder's side of the reference-aware delta (filter 2,
// update/codec/delta_format.h): for two x86 or x64 images of one machine,
// the old file's references, the new layout, the relocation table the
// decoder will build, the alignment against the old file followed by that
// table, the target corrections, and the streams with every copied
// reference predicted as the decoder predicts it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mkpatch/codec/delta_streams.h"

struct ReferenceStreamsReport {
  size_t references = 0;               // of the old file
  size_t corrections = 0;              // target corrections the delta carries
  uint64_t relocationSize = 0;         // bytes of the table the decoder builds
  std::vector<DeltaCommand> commands;  // the alignment the streams were written from
};

// The streams of filter 2, or false when the files are not two images of
// one machine the model takes (or the old one has too many references).
// `plain` is the alignment against the old file alone.
bool WriteReferenceStreams(const unsigned char* old, size_t oldSize, const unsigned char* target,
                           size_t targetSize, const std::vector<DeltaCommand>& plain,
                           uint64_t mapMinimum, DeltaStreams* streams,
                           ReferenceStreamsReport* report = nullptr);
