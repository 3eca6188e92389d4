// The decoder's side of the reference-aware delta (filter 2,
// delta_format.h): before the first byte is made, the old file's layout and
// references are read from the installed file, the new layout and the
// target corrections from the control stream's preamble, and the copy map
// and the new relocation table from a first reading of the commands. The
// working set is those tables: bounded by the old file's references
// (PE_REFERENCES_MAX), never the files themselves.
#pragma once

#include <cstdint>

#include "update/base/byte_source.h"
#include "update/codec/byte_stream.h"
#include "update/codec/control_reader.h"
#include "update/codec/gathered_copies.h"
#include "update/codec/pe_reference_model.h"

// Reads the preamble that starts the control stream of a reference delta,
// against the old file's layout and its `referenceCount` references. With
// `model` null it is checked and passed over (the second reading).
DecodeError ReadReferencePreamble(StreamReader& control, const PeLayout& oldLayout,
                                  size_t referenceCount, ReferenceModel* model,
                                  uint64_t* relocationSize);

class ReferenceDelta : public ByteSource {
 public:
  explicit ReferenceDelta(uint64_t mapMinimum) : model(mapMinimum) {}

  // The installed file's layout and references, found with `worker`'s help
  // when given (`installed` is then read from two threads).
  DecodeError Load(ByteSource* installed, WorkerThread* worker);
  // Passes over the preamble (a second reading, after Load).
  DecodeError SkipPreamble(StreamReader& control) const;
  // The rest of what the copies need, from a first reading of the control
  // stream (after Load); the copies are told to `gathered` too.
  DecodeError Prepare(ByteStream& firstReading, uint64_t decodedSize, GatheredCopies* gathered);

  // What the copies read: the installed file, then the rebuilt relocation
  // table.
  uint64_t Size() const override { return installedSize_ + relocationSize_; }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) override;

  ReferenceModel model;

 private:
  ByteSource* installed_ = nullptr;
  uint64_t installedSize_ = 0;
  uint64_t relocationSize_ = 0;
  DecodeBuffer relocations_;
};
