#include "mkpatch/plan/file_likeness.h"

#include <algorithm>

namespace {

constexpr size_t kWindow = 32;
constexpr uint64_t kBase = 0x100000001B3ull;  // odd: the polynomial keeps every byte
constexpr size_t kChunk = 1 << 16;

// The polynomial hash of a window spreads poorly over its low bits' order;
// a final mix makes the smallest hashes a fair sample of the windows.
uint64_t Mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return h;
}

// Keeps the smallest distinct hashes seen, in amortised constant time per
// window: a hash at or above the current bound is dropped at once.
class Sketcher {
 public:
  Sketcher() {
    for (size_t i = 1; i < kWindow; ++i) outFactor_ *= kBase;
  }

  void Feed(const unsigned char* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
      const unsigned char in = data[i];
      const unsigned char out = ring_[filled_ % kWindow];
      ring_[filled_ % kWindow] = in;
      // Each byte counts as itself plus one (so that zeros count too): the
      // byte that leaves takes its one along, or the hash would depend on
      // where in the file the window lies, not only on what it holds.
      if (filled_ >= kWindow) hash_ -= (out + uint64_t(1)) * outFactor_;
      hash_ = hash_ * kBase + in + 1;
      if (++filled_ < kWindow) continue;
      const uint64_t mixed = Mix(hash_);
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

  uint64_t outFactor_ = 1;
  uint64_t hash_ = 0;
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
