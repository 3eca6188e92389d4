#include "mkpatch/plan/file_likeness.h"

#include <algorithm>

#include "mkpatch/codec/rolling_hash.h"

namespace {

constexpr size_t kWindow = 32;
constexpr size_t kChunk = 1 << 16;

// Keeps the smallest distinct hashes seen, in amortised constant time per
// window: a hash at or above the current bound is dropped at once.
class Sketcher {
 public:
  void Feed(const unsigned char* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
      const unsigned char in = data[i];
      unsigned char& slot = ring_[filled_ % kWindow];
      const unsigned char out = slot;
      slot = in;
      if (++filled_ < kWindow) continue;
      // The block differ's window hash, mixed: the smallest hashes are then
      // a fair sample of the windows.
      if (filled_ == kWindow) {
        hash_.Reset(ring_);
      } else {
        hash_.Roll(out, in);
      }
      const uint64_t mixed = hash_.Mixed();
      if (mixed >= bound_) continue;
      kept_.push_back(mixed);
      if (kept_.size() >= 4 * kSketchSize) Trim();
    }
  }

  LikenessSketch Take() {
    Trim();
    return std::move(kept_);
  }

 private:
  void Trim() {
    std::sort(kept_.begin(), kept_.end());
    kept_.erase(std::unique(kept_.begin(), kept_.end()), kept_.end());
    if (kept_.size() >= kSketchSize) {
      kept_.resize(kSketchSize);
      bound_ = kept_.back();
    }
  }

  RollingHash hash_{kWindow};
  unsigned char ring_[kWindow] = {};
  uint64_t filled_ = 0;
  uint64_t bound_ = UINT64_MAX;
  std::vector<uint64_t> kept_;
};

}  // namespace

bool SketchFile(FILE* file, LikenessSketch* sketch) {
  Sketcher sketcher;
  std::vector<unsigned char> chunk(kChunk);
  for (;;) {
    const size_t got = std::fread(chunk.data(), 1, chunk.size(), file);
    sketcher.Feed(chunk.data(), got);
    if (got < chunk.size()) break;
  }
  if (std::ferror(file)) return false;
  *sketch = sketcher.Take();
  return true;
}

LikenessSketch SketchBytes(const unsigned char* data, size_t size) {
  Sketcher sketcher;
  sketcher.Feed(data, size);
  return sketcher.Take();
}

uint32_t Resemblance(const LikenessSketch& a, const LikenessSketch& b) {
  if (a.empty() || b.empty()) return 0;
  // The smallest hashes of the union are a sample of it; those in both
  // sketches are its share in both files.
  size_t i = 0, j = 0, taken = 0, shared = 0;
  while (taken < kSketchSize && (i < a.size() || j < b.size())) {
    if (j == b.size() || (i < a.size() && a[i] < b[j])) {
      ++i;
    } else if (i == a.size() || b[j] < a[i]) {
      ++j;
    } else {
      ++shared;
      ++i;
      ++j;
    }
    ++taken;
  }
  return static_cast<uint32_t>(shared * kWholeResemblance / taken);
}
