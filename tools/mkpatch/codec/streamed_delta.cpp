#include "mkpatch/codec/streamed_delta.h"
#include "mkpatch/codec/varint_write.h"

#include "mkpatch/codec/delta_writer.h"
#include "mkpatch/codec/framed_writer.h"

#include <memory>

#include "mkpatch/codec/zstd_encode.h"
#include "update/base/md5.h"
#include "update/codec/delta_format.h"

namespace {

constexpr size_t kPiece = size_t(1) << 20;
constexpr uint64_t kProgressStep = uint64_t(16) << 20;

// The sparse form of the differences (pairs of a zero count and a byte),
// produced as the differences go by. Its size is known only at the end, and
// a frame of unknown size gets the level's tables for the largest inputs
// (hundreds of MiB at the ultra level): the pairs are held until they pass
// kHeldPairs, which few deltas reach, and only then streamed.
class SparseWriter {
 public:
  explicit SparseWriter(int level) : level_(level) {}

  void Add(const unsigned char* differences, size_t size) {
    for (size_t i = 0; i < size; ++i) {
      if (differences[i] == 0) {
        ++zeros_;
        continue;
      }
      AppendVarint(pairs_, zeros_);
      pairs_.push_back(differences[i]);
      zeros_ = 0;
      if (pairs_.size() >= kHeldPairs) {
        if (!frame_)
          frame_.reset(new ZstdWriter(level_, ZstdFrame::Magicless, ZstdWriter::kUnknownSize));
        frame_->Add(pairs_.data(), pairs_.size());
        pairs_.clear();
      }
    }
  }

  // The compressed pairs; the zeros after the last pair are left out.
  std::vector<unsigned char> Finish() {
    if (frame_) {
      frame_->Add(pairs_.data(), pairs_.size());
      return frame_->Finish();
    }
    if (pairs_.empty()) return {};
    return CompressZstd(pairs_.data(), pairs_.size(), level_, ZstdFrame::Magicless);
  }

 private:
  static constexpr size_t kHeldPairs = size_t(16) << 20;
  int level_;
  std::unique_ptr<ZstdWriter> frame_;
  std::vector<unsigned char> pairs_;
  uint64_t zeros_ = 0;
};

}  // namespace

std::vector<unsigned char> WriteStreamedDelta(ChunkCache& old, ChunkCache& target,
                                              const std::vector<DeltaCommand>& commands, int level,
                                              const AlignProgress& progress, MD5* digest) {
  uint64_t copied = 0;
  for (const DeltaCommand& command : commands) copied += command.copy;
  ZstdWriter plain(level, ZstdFrame::Magicless, copied);
  FramedWriter insertion(level);
  SparseWriter sparse(level);
  const size_t piece = copied < kPiece ? static_cast<size_t>(copied) + 1 : kPiece;
  std::unique_ptr<unsigned char[]> differences(new unsigned char[piece]);
  uint64_t newPosition = 0;
  uint64_t nextProgress = kProgressStep;
  for (const DeltaCommand& command : commands) {
    for (uint64_t done = 0; done < command.copy;) {
      size_t newAvailable = 0, oldAvailable = 0;
      const unsigned char* made = target.Span(newPosition, &newAvailable);
      const unsigned char* source = old.Span(command.oldPosition + done, &oldAvailable);
      size_t step = newAvailable < oldAvailable ? newAvailable : oldAvailable;
      if (step > piece) step = piece;
      if (step > command.copy - done) step = static_cast<size_t>(command.copy - done);
      if (digest != nullptr) digest->update(made, static_cast<uint32_t>(step));
      for (size_t i = 0; i < step; ++i) {
        differences[i] = static_cast<unsigned char>(made[i] - source[i]);
      }
      plain.Add(differences.get(), step);
      sparse.Add(differences.get(), step);
      done += step;
      newPosition += step;
    }
    for (uint64_t done = 0; done < command.insert;) {
      size_t available = 0;
      const unsigned char* made = target.Span(newPosition, &available);
      size_t step = available;
      if (step > command.insert - done) step = static_cast<size_t>(command.insert - done);
      if (digest != nullptr) digest->update(made, static_cast<uint32_t>(step));
      insertion.Add(made, step);
      done += step;
      newPosition += step;
    }
    if (progress && newPosition >= nextProgress) {
      progress(newPosition, target.Size());
      nextProgress = newPosition + kProgressStep;
    }
  }
  std::vector<unsigned char> controlBytes;
  WriteControl(commands, controlBytes);
  // An empty stream stores nothing, as in the in-memory layouts.
  const std::vector<unsigned char> control =
      controlBytes.empty()
          ? std::vector<unsigned char>()
          : CompressZstd(controlBytes.data(), controlBytes.size(), level, ZstdFrame::Magicless);
  const std::vector<unsigned char> inserts = insertion.Finish();
  std::vector<unsigned char> best =
      JoinSeparate(DELTA_FILTER_NONE, control, plain.Finish(), inserts);
  std::vector<unsigned char> other =
      JoinSeparate(DELTA_FILTER_NONE | DELTA_FLAG_SPARSE, control, sparse.Finish(), inserts);
  return other.size() < best.size() ? std::move(other) : std::move(best);
}
