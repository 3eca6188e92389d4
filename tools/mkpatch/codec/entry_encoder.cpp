#include "entry_encoder.h"

#include <algorithm>
#include <functional>
#include <vector>

#include "delta_format.h"
#include "delta_streams.h"
#include "delta_writer.h"
#include "zstd_encode.h"

namespace {

// zstd's strongest levels, where the time they take is worth it: a patch is
// built once and downloaded by every player. Above the limit the ultra level
// costs more time than its bytes are worth.
const int kLevel = 19;
const int kUltraLevel = 22;
const size_t kUltraLimit = size_t(64) << 20;
// A quick level, to rank the ways a delta can be written before the chosen
// ones are compressed in earnest, and to tell when a whole file cannot win.
const int kProbeLevel = 9;
// No zstd level compresses a file this many times better than the quick one,
// so a delta that much smaller than the quickly compressed file wins.
const size_t kWholeHopeless = 3;
// Up to this size every way of writing a delta is tried at full strength.
const size_t kSmallDelta = size_t(1) << 20;
// Copies shorter than this are mostly chance matches; they would spoil the
// map of where code moved.
const uint64_t kMapMinimum = 1024;

EncodedData Smaller(EncodedData a, EncodedData b) {
  return b.bytes.size() < a.bytes.size() ? std::move(b) : std::move(a);
}

// One way to write the delta, at any level.
struct DeltaCandidate {
  std::function<std::vector<unsigned char>(int level)> write;
  size_t probeSize = 0;
};

std::vector<unsigned char> BestDelta(const unsigned char* source, size_t sourceSize,
                                     const unsigned char* target, size_t targetSize,
                                     const std::vector<DeltaCommand>& commands) {
  const DeltaStreams plain = WriteStreams(source, sourceSize, target, commands, 0);
  const DeltaStreams branches = WriteStreams(source, sourceSize, target, commands, kMapMinimum);
  std::vector<DeltaCandidate> candidates;
  for (const DeltaStreams* streams : {&plain, &branches}) {
    for (DeltaLayoutChoice layout : {DeltaLayoutChoice::Packed, DeltaLayoutChoice::Separate,
                                     DeltaLayoutChoice::SeparateSparse}) {
      if (!LayoutFits(layout, *streams)) continue;
      candidates.push_back(
          {[streams, layout](int level) { return WriteDelta(*streams, layout, level); }});
    }
  }
  if (sourceSize <= DELTA_PREFIX_MAX) {
    candidates.push_back({[=](int level) {
      std::vector<unsigned char> bytes = {DELTA_METHOD_SOURCE_PREFIX};
      const std::vector<unsigned char> frame =
          CompressZstdWithPrefix(target, targetSize, source, sourceSize, level);
      bytes.insert(bytes.end(), frame.begin(), frame.end());
      return bytes;
    }});
  }
  const int level = targetSize <= kUltraLimit ? kUltraLevel : kLevel;
  // Small deltas are cheap to write every way; large ones are ranked quickly
  // and only the two best ways are written at full strength.
  if (targetSize > kSmallDelta) {
    for (DeltaCandidate& candidate : candidates) {
      candidate.probeSize = candidate.write(kProbeLevel).size();
    }
    std::stable_sort(
        candidates.begin(), candidates.end(),
        [](const DeltaCandidate& a, const DeltaCandidate& b) { return a.probeSize < b.probeSize; });
    candidates.resize(2);
  }
  std::vector<unsigned char> best;
  for (const DeltaCandidate& candidate : candidates) {
    std::vector<unsigned char> bytes = candidate.write(level);
    if (best.empty() || bytes.size() < best.size()) best = std::move(bytes);
  }
  return best;
}

}  // namespace

EncodedData EncodeWhole(const unsigned char* data, size_t size, const EncodeProgress& progress) {
  EncodedData best;
  best.coding = EntryCoding::Stored;
  best.bytes.assign(data, data + size);
  auto consider = [&](EntryCoding coding, std::vector<unsigned char> bytes) {
    EncodedData candidate;
    candidate.coding = coding;
    candidate.bytes = std::move(bytes);
    best = Smaller(std::move(best), std::move(candidate));
  };
  // Level 19 as the zstd program writes it, always; the ultra level and the
  // x86 branch conversion where they promise to be smaller.
  consider(EntryCoding::Zstd, CompressZstd(data, size, kLevel));
  const X86Split split = ConvertX86Branches(data, size);
  const bool branches = !split.flags.empty() && CompressZstdX86(split, kProbeLevel).size() <
                                                    CompressZstd(data, size, kProbeLevel).size();
  for (int level : {kLevel, kUltraLevel}) {
    if (level == kUltraLevel && size > kUltraLimit) continue;
    if (branches) {
      consider(EntryCoding::ZstdX86, CompressZstdX86(split, level));
    } else if (level == kUltraLevel) {
      consider(EntryCoding::Zstd, CompressZstd(data, size, level));
    }
  }
  if (progress) progress(size, size);
  return best;
}

EncodedData EncodeChanged(const unsigned char* source, size_t sourceSize,
                          const unsigned char* target, size_t targetSize,
                          const EncodeProgress& progress) {
  std::vector<DeltaCommand> commands;
  {
    const SuffixIndex index(source, sourceSize);
    commands =
        AlignFiles(index, target, targetSize, AlignOptions(), [&](uint64_t done, uint64_t total) {
          if (progress) progress(done, total);
        });
  }
  EncodedData delta;
  delta.coding = EntryCoding::Delta;
  delta.bytes = BestDelta(source, sourceSize, target, targetSize, commands);
  // The whole file is worth compressing in earnest only when it could win;
  // it wins a tie, as it needs nothing of the installed file.
  const size_t quick = CompressZstd(target, targetSize, 3).size();
  if (quick < targetSize && quick / kWholeHopeless <= delta.bytes.size()) {
    return Smaller(EncodeWhole(target, targetSize, nullptr), std::move(delta));
  }
  EncodedData stored;
  stored.coding = EntryCoding::Stored;
  stored.bytes.assign(target, target + targetSize);
  return Smaller(std::move(stored), std::move(delta));
}
