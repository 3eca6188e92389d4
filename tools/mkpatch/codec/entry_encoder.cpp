#include "mkpatch/codec/entry_encoder.h"
#include "mkpatch/codec/x86_branch_convert.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "mkpatch/codec/delta_streams.h"
#include "mkpatch/codec/delta_writer.h"
#include "mkpatch/codec/encoding_levels.h"
#include "mkpatch/codec/lzma_encode.h"
#include "mkpatch/codec/reference_streams.h"
#include "mkpatch/codec/side_by_side.h"
#include "mkpatch/codec/zstd_encode.h"
#include "update/codec/delta_format.h"

namespace {

const int kLevel = kEncodeLevel;
const int kUltraLevel = kEncodeUltraLevel;
const size_t kUltraLimit = kEncodeUltraLimit;
// A quick level, to rank the ways a delta can be written before the chosen
// ones are compressed in earnest, and to tell when a whole file cannot win.
const int kProbeLevel = 9;
// Up to this size every way of writing a delta is tried at full strength.
const size_t kSmallDelta = size_t(256) << 10;
// The quick level's small tables find little in a long prefix: from the
// quick level to full strength a prefix delta shrinks by up to a fifth more
// than the other ways (3.79 to 3.04 MB on a real 10 MB program whose whole
// file went from 3.60 to 3.26), so it is written when its quick size is
// within this ratio of the best one's.
const struct { size_t numerator, denominator; } kPrefixUnderrated = {3, 2};
// A way whose quick size is this much above the best one's is not written
// at full strength: from the quick level to full strength the ways of
// writing a delta shrink alike, within a few percent.
const struct { size_t numerator, denominator; } kRunnerUp = {11, 10};
// The old file as zstd's prefix wins only between releases far apart, where
// copies leave much to insert; below this share of the new file's size (the
// best way's quick size) it is not tried.
const size_t kPrefixHopeless = 32;
// LZMA2 makes whole files smaller than zstd (an eighth on programs) at a
// fraction of its speed, both ways: above this size a file whole is zstd's.
const size_t kLzmaLimit = size_t(64) << 20;
// LZMA2 makes programs 0.75-0.85 of their size at zstd's quick level.
const struct { size_t numerator, denominator; } kLzmaHope = {3, 4};
// Copies shorter than this are mostly chance matches; they would spoil the
// map of where code moved.
const uint64_t kMapMinimum = 1024;
// The same for the targets of an image's references.
const uint64_t kReferenceMapMinimum = 64;

// The smaller of two encodings; on a tie the first, or the one that needs
// nothing of the installed file.
EncodedData Smaller(EncodedData a, EncodedData b) {
  const bool bWins = b.bytes.size() < a.bytes.size() ||
                     (b.bytes.size() == a.bytes.size() && a.coding == EntryCoding::Delta &&
                      b.coding != EntryCoding::Delta);
  return bWins ? std::move(b) : std::move(a);
}

EncodedData Coded(EntryCoding coding, std::vector<unsigned char> bytes) {
  EncodedData data;
  data.coding = coding;
  data.bytes = std::move(bytes);
  return data;
}

// `best`, or the file stored as it is when that is no larger. The stored
// copy is made only then: for a large file it would be one more file's size
// of memory.
EncodedData OrStored(EncodedData best, const unsigned char* data, size_t size) {
  if (best.bytes.size() < size) return best;
  return Coded(EntryCoding::Stored, std::vector<unsigned char>(data, data + size));
}

// One way to store the file: written at a level, or ranked by its size at
// the quick level.
struct Candidate {
  std::function<EncodedData(int level)> write;
  size_t probeSize = 0;
  const void* family = nullptr;  // the streams it lays out, if it is a copy delta
};

bool SmallerProbe(const Candidate& a, const Candidate& b) { return a.probeSize < b.probeSize; }

// Every candidate written at `level`, side by side, in their order.
std::vector<EncodedData> WriteEach(const std::vector<Candidate>& candidates, int level) {
  std::vector<EncodedData> written(candidates.size());
  RunSideBySide(candidates.size(), [&](size_t i) { written[i] = candidates[i].write(level); });
  return written;
}

// The smallest of what was written, the first of equals (not empty).
EncodedData Smallest(std::vector<EncodedData> written) {
  EncodedData best = std::move(written.front());
  for (size_t i = 1; i < written.size(); ++i)
    best = Smaller(std::move(best), std::move(written[i]));
  return best;
}

EncodedData Smallest(const std::vector<Candidate>& candidates, int level) {
  return Smallest(WriteEach(candidates, level));
}

// Ranks the candidates: each one's size at the quick level.
void Probe(std::vector<Candidate>& candidates) {
  RunSideBySide(candidates.size(), [&](size_t i) {
    candidates[i].probeSize = candidates[i].write(kProbeLevel).bytes.size();
  });
}

// The whole file with its x86 branches converted once, and whether the
// conversion helps (decided at the quick level).
class WholeFile {
 public:
  WholeFile(const unsigned char* data, size_t size)
      : data_(data), size_(size), split_(ConvertX86Branches(data, size)) {
    quickSize_ = CompressZstd(data, size, kProbeLevel).size();
    if (!split_.flags.empty()) {
      const size_t converted = CompressZstdX86(split_, kProbeLevel).size();
      branches_ = converted < quickSize_;
      quickSize_ = std::min(quickSize_, converted);
    }
  }

  size_t QuickSize() const { return quickSize_; }

  // The smallest of the file stored, at level 19 as the zstd program writes
  // it, at the ultra level or with its branches converted where those
  // promise to be smaller, and through LZMA2 up to kLzmaLimit; the ways
  // are written side by side, each at its own level.
  EncodedData Best() const {
    std::vector<Candidate> ways = {
        {[this](int) { return Coded(EntryCoding::Zstd, CompressZstd(data_, size_, kLevel)); }}};
    if (size_ <= kLzmaLimit) {
      ways.push_back({[this](int) {
        return Coded(EntryCoding::Lzma,
                     CompressLzma(data_, size_, LzmaConversionFor(data_, size_)));
      }});
    }
    for (int level : {kLevel, kUltraLevel}) {
      if (level == kUltraLevel && size_ > kUltraLimit) continue;
      if (branches_ || level == kUltraLevel)
        ways.push_back({[this, level](int) { return At(level); }});
    }
    return OrStored(Smallest(ways, kLevel), data_, size_);
  }

  // The file at `level`, its branches converted if that helped at the quick
  // level.
  EncodedData At(int level) const {
    return branches_ ? Coded(EntryCoding::ZstdX86, CompressZstdX86(split_, level))
                     : Coded(EntryCoding::Zstd, CompressZstd(data_, size_, level));
  }

 private:
  const unsigned char* data_;
  size_t size_;
  X86Split split_;
  bool branches_ = false;
  size_t quickSize_ = 0;
};

// What a way of predicting the copies leaves to store, before compression:
// the commands, the differences that are not zero, the inserted bytes.
size_t RawCost(const DeltaStreams& streams) {
  size_t nonzero = 0;
  for (unsigned char difference : streams.difference) nonzero += difference != 0 ? 1 : 0;
  return streams.control.size() + 2 * nonzero + streams.insertion.size();
}

// The copy/add delta in each of its layouts, for each way of predicting the
// copies.
std::vector<Candidate> CopyDeltas(const std::vector<const DeltaStreams*>& predictions) {
  std::vector<Candidate> candidates;
  for (const DeltaStreams* streams : predictions) {
    for (DeltaLayoutChoice layout : {DeltaLayoutChoice::Packed, DeltaLayoutChoice::Separate,
                                     DeltaLayoutChoice::SeparateSparse}) {
      if (!LayoutFits(layout, *streams)) continue;
      candidates.push_back({[streams, layout](int level) {
                              return Coded(EntryCoding::Delta, WriteDelta(*streams, layout, level));
                            },
                            0, streams});
    }
  }
  return candidates;
}

// The delta that compresses the new file with the old one as zstd's prefix.
Candidate PrefixDelta(const unsigned char* source, size_t sourceSize, const unsigned char* target,
                      size_t targetSize) {
  return {[=](int level) {
    std::vector<unsigned char> bytes = {DELTA_METHOD_SOURCE_PREFIX};
    const std::vector<unsigned char> frame =
        CompressZstdWithPrefix(target, targetSize, source, sourceSize, level);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    return Coded(EntryCoding::Delta, std::move(bytes));
  }};
}

// The prefix deltas worth writing: the plain one, and where the new file
// holds call or jump opcodes the one with both files' branches converted.
// Each wins somewhere: converted, calls from code that moved to functions
// that did not are the same bytes in both files, but calls to functions that
// moved are not.
std::vector<Candidate> PrefixDeltas(const unsigned char* source, size_t sourceSize,
                                    const unsigned char* target, size_t targetSize) {
  std::vector<Candidate> candidates = {PrefixDelta(source, sourceSize, target, targetSize)};
  struct Converted {
    std::vector<unsigned char> source;
    X86Split target;
  };
  auto converted = std::make_shared<Converted>();
  converted->target = ConvertX86Branches(target, targetSize);
  if (converted->target.flags.empty()) return candidates;
  converted->source = ConvertX86Branches(source, sourceSize).main;
  candidates.push_back({[converted](int level) {
    std::vector<unsigned char> bytes = {DELTA_METHOD_SOURCE_PREFIX_X86};
    const std::vector<unsigned char> streams =
        CompressZstdX86WithPrefix(converted->target, converted->source, level);
    bytes.insert(bytes.end(), streams.begin(), streams.end());
    return Coded(EntryCoding::Delta, std::move(bytes));
  }});
  return candidates;
}

}  // namespace

EncodedData EncodeWhole(const unsigned char* data, size_t size, const EncodeProgress& progress) {
  EncodedData best = WholeFile(data, size).Best();
  if (progress) progress(size, size);
  return best;
}

EncodedData EncodeChanged(const unsigned char* source, size_t sourceSize,
                          const unsigned char* target, size_t targetSize,
                          const EncodeProgress& progress, bool modelReferences) {
  // Two images are aligned as the reference model sees them, with their
  // references blanked to what they point to: the copies then break where
  // the code really changed, which serves every way of writing the delta.
  ReferenceEncoder references;
  const bool modelled = modelReferences && references.Open(source, sourceSize, target, targetSize);
  std::vector<DeltaCommand> commands;
  {
    const SuffixIndex index(modelled ? references.AlignedOld().data() : source, sourceSize);
    commands = AlignFiles(index, modelled ? references.AlignedNew().data() : target, targetSize,
                          AlignOptions(), [&](uint64_t done, uint64_t total) {
                            if (progress) progress(done, total);
                          });
  }
  references.DropAligned();
  // Where the reference model applies it predicts what the branch filter
  // does and more; the other ways are still written when the model's
  // streams promise no less.
  DeltaStreams plain, branches, referenced;
  std::vector<const DeltaStreams*> predictions;
  if (modelled) {
    referenced = references.Write(commands, kReferenceMapMinimum);
    predictions.push_back(&referenced);
  }
  branches = WriteStreams(source, sourceSize, target, commands, kMapMinimum);
  if (!modelled || RawCost(branches) < RawCost(referenced)) {
    plain = WriteStreams(source, sourceSize, target, commands, 0);
    predictions.push_back(&plain);
    predictions.push_back(&branches);
  }
  std::vector<Candidate> candidates = CopyDeltas(predictions);
  const bool prefix = sourceSize <= DELTA_PREFIX_MAX;
  const int level = targetSize <= kUltraLimit ? kUltraLevel : kLevel;
  if (targetSize <= kSmallDelta) {
    // Small files are cheap to write every way. The whole file is worth
    // compressing in earnest only when it could win.
    if (prefix) {
      for (Candidate& way : PrefixDeltas(source, sourceSize, target, targetSize))
        candidates.push_back(std::move(way));
    }
    EncodedData best = Smallest(candidates, level);
    const size_t quick = CompressZstd(target, targetSize, kHopelessProbeLevel).size();
    if (quick < targetSize && quick / kWholeHopeless <= best.bytes.size()) {
      best = Smaller(std::move(best), EncodeWhole(target, targetSize));
    }
    return OrStored(std::move(best), target, targetSize);
  }
  // Larger ones are ranked at the quick level, the whole file among them
  // when it could win, and only the best ways are written at full strength,
  // with the old file as zstd's prefix when it comes near them.
  Probe(candidates);
  std::stable_sort(candidates.begin(), candidates.end(), SmallerProbe);
  const size_t bestProbe = candidates.front().probeSize;
  const size_t quick = CompressZstd(target, targetSize, kHopelessProbeLevel).size();
  std::unique_ptr<WholeFile> whole;
  if (quick / kWholeHopeless <= bestProbe) {
    whole.reset(new WholeFile(target, targetSize));
    const WholeFile* file = whole.get();
    candidates.push_back({[file](int at) { return file->At(at); }, file->QuickSize()});
    std::stable_sort(candidates.begin(), candidates.end(), SmallerProbe);
  }
  // The runner-up only when its quick size comes near the best's and it is
  // another way, not another layout of the same streams: the levels keep the
  // order of the ways, and of the layouts (full strength costs seconds a way).
  size_t runnerUp = 0;
  for (size_t i = 1; i < candidates.size() && runnerUp == 0; ++i) {
    const bool near = candidates[i].probeSize * kRunnerUp.denominator <
                      candidates[0].probeSize * kRunnerUp.numerator;
    const bool other =
        candidates[i].family == nullptr || candidates[i].family != candidates[0].family;
    if (near && other) runnerUp = i;
  }
  if (runnerUp != 0) candidates[1] = std::move(candidates[runnerUp]);
  candidates.resize(runnerUp != 0 ? 2 : 1);
  if (prefix && candidates.front().probeSize >= targetSize / kPrefixHopeless) {
    // The smaller way at the quick level: the two shrink alike from there.
    std::vector<Candidate> ways = PrefixDeltas(source, sourceSize, target, targetSize);
    Probe(ways);
    Candidate& prefixDelta = *std::min_element(ways.begin(), ways.end(), SmallerProbe);
    if (prefixDelta.probeSize * kPrefixUnderrated.denominator <
        candidates.front().probeSize * kPrefixUnderrated.numerator) {
      candidates.push_back(std::move(prefixDelta));
    }
  }
  // LZMA2 is slow to write: the whole file goes through it only where it
  // could win, when what ships is no smaller than kLzmaHope of the whole
  // file at the quick level (a delta that is the file compressed against an
  // old one it shares little with, or the file whole). What ships is known
  // once the ways are written; where the best quick size leaves LZMA2 a
  // chance, it is written beside them and dropped if that chance went.
  const auto lzmaCouldWin = [&](size_t shipped) {
    return whole && targetSize <= kLzmaLimit &&
           shipped * kLzmaHope.denominator >= whole->QuickSize() * kLzmaHope.numerator;
  };
  const Candidate lzma = {[=](int) {
    return Coded(EntryCoding::Lzma,
                 CompressLzma(target, targetSize, LzmaConversionFor(target, targetSize)));
  }};
  const bool lzmaBeside =
      lzmaCouldWin(std::min_element(candidates.begin(), candidates.end(), SmallerProbe)->probeSize);
  if (lzmaBeside) candidates.push_back(lzma);
  std::vector<EncodedData> written = WriteEach(candidates, level);
  EncodedData lzmaWritten;
  if (lzmaBeside) {
    lzmaWritten = std::move(written.back());
    written.pop_back();
  }
  EncodedData best = Smallest(std::move(written));
  if (lzmaCouldWin(best.bytes.size())) {
    best = Smaller(std::move(best), lzmaBeside ? std::move(lzmaWritten) : lzma.write(0));
  }
  return OrStored(std::move(best), target, targetSize);
}
