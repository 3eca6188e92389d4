#include "mkpatch/codec/block_align.h"

#include "mkpatch/codec/pairing_close.h"
#include "mkpatch/codec/rolling_hash.h"

namespace {

// Progress is told every this many bytes of the new file.
constexpr uint64_t kProgressStep = uint64_t(16) << 20;
// A candidate block is compared at most this far before the longest is
// chosen (and then extended in full): far enough to tell a chance match of
// a common block from the real one.
constexpr int64_t kCandidatePeek = 512;

class BlockAligner {
 public:
  BlockAligner(const BlockIndex& index, ChunkCache& old, ChunkCache& target,
               const BlockAlignOptions& options)
      : index_(index),
        old_(old),
        new_(target),
        oldSize_(static_cast<int64_t>(old.Size())),
        newSize_(static_cast<int64_t>(target.Size())),
        block_(static_cast<int64_t>(index.BlockSize())),
        options_(options),
        hash_(index.BlockSize()),
        window_(index.BlockSize()),
        peekSize_(block_ > kCandidatePeek ? block_ : kCandidatePeek),
        peek_(static_cast<size_t>(peekSize_)) {}

  std::vector<DeltaCommand> Run(const AlignProgress& progress) {
    int64_t p = 0;
    int64_t noResumeBefore = 0;  // the pairing is known to break before here
    bool hashed = false;
    uint64_t nextProgress = kProgressStep;
    while (p < newSize_) {
      if (progress && static_cast<uint64_t>(p) >= nextProgress) {
        progress(static_cast<uint64_t>(p), static_cast<uint64_t>(newSize_));
        nextProgress = static_cast<uint64_t>(p) + kProgressStep;
      }
      // The current pairing carries on: skip what it matches. Most bytes of
      // a gap do not agree with it, and need no more than one comparison.
      const bool agrees = Agrees(p + lastOffset_, p);
      if (agrees && p >= noResumeBefore) {
        const int64_t run = PairingRun(p, newSize_ - p);
        if (run >= static_cast<int64_t>(options_.resumeLength)) {
          AdvancePairing(p + run);
          p += run;
          hashed = false;
          continue;
        }
        noResumeBefore = p + run + 1;
      }
      if (p + block_ <= newSize_) {
        if (!hashed) {
          ReadNew(p);
          hash_.Reset(window_.data());
          hashed = true;
        } else {
          hash_.Roll(new_.At(static_cast<uint64_t>(p - 1)),
                     new_.At(static_cast<uint64_t>(p - 1 + block_)));
        }
        int64_t position = 0, length = 0;
        if (FindMatch(p, &position, &length)) {
          const int64_t pairingScore = PairingMatches(p, length);
          if (length > pairingScore + options_.switchMargin) {
            AdvancePairing(p);
            Emit(p, position);
            AdvancePairing(p + length);
          } else {
            AdvancePairing(p + length);
          }
          p += length;
          hashed = false;
          noResumeBefore = 0;
          continue;
        }
      }
      StepPairing(p, agrees);
      ++p;
    }
    AdvancePairing(newSize_);
    Emit(newSize_, 0);
    return std::move(commands_);
  }

 private:
  void ReadNew(int64_t from) {
    for (int64_t i = 0; i < block_; ++i) window_[i] = new_.At(static_cast<uint64_t>(from + i));
  }

  // Whether old[oldAt] exists and equals new[newAt].
  bool Agrees(int64_t oldAt, int64_t newAt) {
    return oldAt >= 0 && oldAt < oldSize_ &&
           old_.At(static_cast<uint64_t>(oldAt)) == new_.At(static_cast<uint64_t>(newAt));
  }

  // How many bytes from new position `p` the current pairing matches
  // exactly, at most `limit`.
  int64_t PairingRun(int64_t p, int64_t limit) {
    const int64_t oldAt = p + lastOffset_;
    if (oldAt < 0 || oldAt >= oldSize_) return 0;
    return static_cast<int64_t>(CommonLength(new_, static_cast<uint64_t>(p), old_,
                                             static_cast<uint64_t>(oldAt),
                                             static_cast<uint64_t>(limit)));
  }

  // How many of the `length` bytes from new position `p` the current pairing
  // matches.
  int64_t PairingMatches(int64_t p, int64_t length) {
    int64_t matches = 0;
    for (int64_t at = p; at < p + length;) {
      const int64_t take = PairingRun(at, p + length - at);
      matches += take;
      at += take + 1;
    }
    return matches;
  }

  // An old block with the hash of the window at `p` whose bytes match, the
  // longest match of those; false when none. Candidates are first compared
  // over a few hundred bytes read on their own, so that a block that turns
  // out not to match, or to match briefly, costs no chunk of the cache.
  bool FindMatch(int64_t p, int64_t* position, int64_t* length) {
    uint64_t starts[BlockIndex::kMaxCandidates];
    const size_t count = index_.Candidates(hash_.Mixed(), starts);
    int64_t best = 0;
    const int64_t want = newSize_ - p < peekSize_ ? newSize_ - p : peekSize_;
    for (size_t i = 0; i < count; ++i) {
      const int64_t start = static_cast<int64_t>(starts[i]);
      if (start - p == lastOffset_) continue;  // the pairing itself
      const int64_t available = oldSize_ - start < want ? oldSize_ - start : want;
      old_.Peek(static_cast<uint64_t>(start), peek_.data(), static_cast<size_t>(available));
      int64_t same = 0;
      while (same < available && peek_[same] == new_.At(static_cast<uint64_t>(p + same))) ++same;
      if (same >= block_ && same > best) {
        best = same;
        *position = start;
      }
    }
    if (best == 0) return false;
    *length = best;
    if (best == peekSize_) {
      *length +=
          static_cast<int64_t>(CommonLength(new_, static_cast<uint64_t>(p + best), old_,
                                            static_cast<uint64_t>(*position + best), UINT64_MAX));
    }
    return true;
  }

  // The forward stretch of the current pairing, kept up to date as the scan
  // moves, so that closing a pairing never reads its bytes again: how many
  // of the bytes from lastScan_ to statScan_ agree, and the length with the
  // best score (twice the agreeing bytes less the length).
  void AdvancePairing(int64_t to) {
    while (statScan_ < to) {
      const int64_t i = statScan_ - lastScan_;
      if (lastPosition_ + i >= oldSize_) {
        statScan_ = to;  // the stretch cannot pass the old file's end
        return;
      }
      const int64_t take = PairingRun(statScan_, to - statScan_);
      if (take > 0) {
        statMatches_ += take;
        statScan_ += take;
        const int64_t length = statScan_ - lastScan_;
        if (statMatches_ * 2 - length > bestMatches_ * 2 - bestForward_) {
          bestMatches_ = statMatches_;
          bestForward_ = length;
        }
        continue;
      }
      ++statScan_;  // a byte that differs lowers the score
    }
  }

  // AdvancePairing(p + 1) where whether the pairing agrees at `p` is known.
  void StepPairing(int64_t p, bool agrees) {
    if (statScan_ != p) {
      AdvancePairing(p + 1);
      return;
    }
    ++statScan_;
    if (!agrees) return;  // a byte past the old file's end never agrees
    ++statMatches_;
    const int64_t length = statScan_ - lastScan_;
    if (statMatches_ * 2 - length > bestMatches_ * 2 - bestForward_) {
      bestMatches_ = statMatches_;
      bestForward_ = length;
    }
  }

  // Closes the pairing that began at lastScan_/lastPosition_ where the next
  // one (new `scan`, old `position`) begins, as the suffix-array alignment
  // does: the old pairing stretched forwards and the new one backwards while
  // at least half their bytes agree, the bytes between inserted.
  void Emit(int64_t scan, int64_t position) {
    int64_t forward = bestForward_;
    int64_t backward = 0;
    if (scan < newSize_) {
      int64_t matches = 0, best = 0;
      for (int64_t i = 1; scan >= lastScan_ + i && position >= i; ++i) {
        if (Agrees(position - i, scan - i)) ++matches;
        const int64_t score = matches * 2 - i;
        if (score > best * 2 - backward) {
          best = matches;
          backward = i;
        } else if (score < best * 2 - backward - options_.backwardGiveUp) {
          break;
        }
      }
    }
    ClosePairing(
        lastScan_, lastPosition_, scan, position, &forward, &backward,
        [this](int64_t oldAt, int64_t newAt) { return Agrees(oldAt, newAt); }, commands_);
    lastScan_ = scan - backward;
    lastPosition_ = position - backward;
    lastOffset_ = position - scan;
    statScan_ = lastScan_;
    statMatches_ = bestMatches_ = bestForward_ = 0;
  }

  const BlockIndex& index_;
  ChunkCache& old_;
  ChunkCache& new_;
  int64_t oldSize_;
  int64_t newSize_;
  int64_t block_;
  BlockAlignOptions options_;
  RollingHash hash_;
  std::vector<unsigned char> window_;
  int64_t peekSize_;  // kCandidatePeek, or a whole block when larger
  std::vector<unsigned char> peek_;
  std::vector<DeltaCommand> commands_;
  int64_t lastScan_ = 0;
  int64_t lastPosition_ = 0;
  int64_t lastOffset_ = 0;
  int64_t statScan_ = 0;
  int64_t statMatches_ = 0;
  int64_t bestMatches_ = 0;
  int64_t bestForward_ = 0;
};

}  // namespace

std::vector<DeltaCommand> AlignByBlocks(const BlockIndex& index, ChunkCache& old,
                                        ChunkCache& target, const BlockAlignOptions& options,
                                        const AlignProgress& progress) {
  return BlockAligner(index, old, target, options).Run(progress);
}
