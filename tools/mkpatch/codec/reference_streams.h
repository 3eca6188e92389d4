// The encoder's side of the reference-aware delta (filter 2,
// update/codec/delta_format.h): for two x86 or x64 images of one machine,
// both files' references and layouts, the files as the alignment should see
// them, the relocation table the decoder will build and the new file's own
// table aligned against it, the section shifts and target corrections, and
// the streams with every copied reference predicted as the decoder predicts
// it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "mkpatch/codec/delta_streams.h"
#include "update/codec/pe_reference_model.h"

struct ReferenceStreamsReport {
  size_t references = 0;               // of the old file
  size_t corrections = 0;              // target corrections the delta carries
  uint64_t relocationSize = 0;         // bytes of the table the decoder builds
  std::vector<DeltaCommand> commands;  // the alignment the streams were written from
};

// The encoder of one pair of images.
class ReferenceEncoder {
 public:
  ReferenceEncoder() = default;
  ~ReferenceEncoder();
  ReferenceEncoder(const ReferenceEncoder&) = delete;
  ReferenceEncoder& operator=(const ReferenceEncoder&) = delete;

  // False when the files are not two images of one machine the model takes
  // (or the old one has too many references). The files must outlive this.
  bool Open(const unsigned char* old, size_t oldSize, const unsigned char* target,
            size_t targetSize);
  // The files as the alignment should see them: every reference replaced
  // by a digest of what it points to, so that code which differs only in
  // where its references point matches exactly.
  const std::vector<unsigned char>& AlignedOld() const { return alignedOld_; }
  const std::vector<unsigned char>& AlignedNew() const { return alignedNew_; }
  // Frees them once the alignment is made.
  void DropAligned() {
    std::vector<unsigned char>().swap(alignedOld_);
    std::vector<unsigned char>().swap(alignedNew_);
  }
  // The streams of filter 2 from an alignment of AlignedNew against
  // AlignedOld (commands within the old file).
  DeltaStreams Write(const std::vector<DeltaCommand>& aligned, uint64_t mapMinimum,
                     ReferenceStreamsReport* report = nullptr);

 private:
  const unsigned char* old_ = nullptr;
  size_t oldSize_ = 0;
  const unsigned char* target_ = nullptr;
  size_t targetSize_ = 0;
  std::unique_ptr<ReferenceModel> model_;
  GrowableArray<PeReference> newReferences_;
  std::vector<unsigned char> alignedOld_, alignedNew_;
};

// Open, the alignment and Write in one, or false as Open.
bool WriteReferenceStreams(const unsigned char* old, size_t oldSize, const unsigned char* target,
                           size_t targetSize, uint64_t mapMinimum, DeltaStreams* streams,
                           ReferenceStreamsReport* report = nullptr);
