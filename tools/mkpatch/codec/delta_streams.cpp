#include "mkpatch/codec/delta_streams.h"

#include <algorithm>
#include <new>

#include "mkpatch/codec/pairing_close.h"
#include "mkpatch/codec/varint_write.h"
#include "update/codec/branch_prediction.h"
#include "update/codec/delta_format.h"
#include "update/codec/varint.h"

namespace {

class Aligner {
 public:
  Aligner(const SuffixIndex& index, const unsigned char* target, size_t targetSize,
          const AlignOptions& options)
      : index_(index),
        old_(index.Data()),
        oldSize_(static_cast<int64_t>(index.Size())),
        new_(target),
        newSize_(static_cast<int64_t>(targetSize)),
        options_(options) {}

  std::vector<DeltaCommand> Run(const AlignProgress& progress) {
    int64_t scan = 0, length = 0, position = 0;
    while (scan < newSize_) {
      // Look for the next place where a match beats the current pairing
      // (old offset `lastOffset_`) clearly, or equals it over its whole length.
      int64_t oldScore = 0;
      int64_t scored = scan += length;
      for (; scan < newSize_; ++scan) {
        size_t found = 0;
        length = static_cast<int64_t>(
            index_.LongestMatch(new_ + scan, static_cast<size_t>(newSize_ - scan), &found));
        position = static_cast<int64_t>(found);
        for (; scored < scan + length; ++scored) {
          if (OldMatches(scored + lastOffset_, scored)) ++oldScore;
        }
        if ((length == oldScore && length != 0) || length > oldScore + options_.switchMargin) {
          break;
        }
        if (OldMatches(scan + lastOffset_, scan)) --oldScore;
      }
      if (length != oldScore || scan == newSize_) {
        Emit(scan, position);
        if (progress) progress(static_cast<uint64_t>(scan), static_cast<uint64_t>(newSize_));
      }
    }
    return std::move(commands_);
  }

 private:
  bool OldMatches(int64_t oldAt, int64_t newAt) const {
    return oldAt >= 0 && oldAt < oldSize_ && old_[oldAt] == new_[newAt];
  }

  // Closes the pairing that began at lastScan_/lastPosition_ where the next
  // one (new `scan`, old `position`) begins: the old run is stretched forwards
  // and the new one backwards while at least half their bytes agree, the
  // bytes between become an insertion, and the command is written.
  void Emit(int64_t scan, int64_t position) {
    int64_t forward = 0;
    {
      int64_t matches = 0, best = 0;
      for (int64_t i = 0; lastScan_ + i < scan && lastPosition_ + i < oldSize_;) {
        if (old_[lastPosition_ + i] == new_[lastScan_ + i]) ++matches;
        ++i;
        if (matches * 2 - i > best * 2 - forward) {
          best = matches;
          forward = i;
        }
      }
    }
    int64_t backward = 0;
    if (scan < newSize_) {
      int64_t matches = 0, best = 0;
      for (int64_t i = 1; scan >= lastScan_ + i && position >= i; ++i) {
        if (old_[position - i] == new_[scan - i]) ++matches;
        if (matches * 2 - i > best * 2 - backward) {
          best = matches;
          backward = i;
        }
      }
    }
    ClosePairing(
        lastScan_, lastPosition_, scan, position, &forward, &backward,
        [this](int64_t oldAt, int64_t newAt) { return old_[oldAt] == new_[newAt]; }, commands_);

    lastScan_ = scan - backward;
    lastPosition_ = position - backward;
    lastOffset_ = position - scan;
  }

  const SuffixIndex& index_;
  const unsigned char* old_;
  int64_t oldSize_;
  const unsigned char* new_;
  int64_t newSize_;
  AlignOptions options_;
  std::vector<DeltaCommand> commands_;
  int64_t lastScan_ = 0;
  int64_t lastPosition_ = 0;
  int64_t lastOffset_ = 0;
};

}  // namespace

// The control stream: a command that copies nothing needs no position, so
// its move is left to the next copy.
void WriteControl(const std::vector<DeltaCommand>& commands, std::vector<unsigned char>& out) {
  uint64_t position = 0;
  for (const DeltaCommand& command : commands) {
    const uint64_t target = command.copy > 0 ? command.oldPosition : position;
    AppendVarint(out, ZigzagEncode(static_cast<int64_t>(target - position)));
    AppendVarint(out, command.copy);
    AppendVarint(out, command.insert);
    position = target + command.copy;
  }
}

std::vector<DeltaCommand> AlignFiles(const SuffixIndex& old, const unsigned char* target,
                                     size_t targetSize, const AlignOptions& options,
                                     const AlignProgress& progress) {
  return Aligner(old, target, targetSize, options).Run(progress);
}

DeltaStreams WritePredictedStreams(const unsigned char* source, const unsigned char* target,
                                   const std::vector<DeltaCommand>& commands,
                                   const CopyPredictor& predict,
                                   const std::vector<unsigned char>& preamble) {
  DeltaStreams streams;
  streams.control = preamble;
  WriteControl(commands, streams.control);
  std::vector<unsigned char> predicted;
  uint64_t newPosition = 0;
  for (const DeltaCommand& command : commands) {
    const unsigned char* from = source + command.oldPosition;
    const unsigned char* made = target + newPosition;
    const size_t copy = static_cast<size_t>(command.copy);
    if (predict && copy > 0) {
      predicted.assign(from, from + copy);
      predict(command, newPosition, predicted.data());
      from = predicted.data();
    }
    const size_t at = streams.difference.size();
    streams.difference.resize(at + copy);
    for (size_t i = 0; i < copy; ++i) {
      streams.difference[at + i] = static_cast<unsigned char>(made[i] - from[i]);
    }
    streams.insertion.insert(streams.insertion.end(), made + copy, made + copy + command.insert);
    newPosition += command.copy + command.insert;
  }
  return streams;
}

DeltaStreams WriteStreams(const unsigned char* old, size_t oldSize, const unsigned char* target,
                          const std::vector<DeltaCommand>& commands, uint64_t mapMinimum) {
  if (mapMinimum == 0) return WritePredictedStreams(old, target, commands, nullptr, {});
  CopyMap map(mapMinimum);
  uint64_t newPosition = 0;
  for (const DeltaCommand& command : commands) {
    // The encoder reports memory that ran out as the rest of it does.
    if (!map.Add(command.oldPosition, newPosition, command.copy)) throw std::bad_alloc();
    newPosition += command.copy + command.insert;
  }
  map.Finish();
  std::vector<unsigned char> predicted;
  DeltaStreams streams = WritePredictedStreams(
      old, target, commands,
      [&](const DeltaCommand& command, uint64_t at, unsigned char* bytes) {
        predicted.resize(static_cast<size_t>(command.copy));
        SiteCarry carry;
        PredictBranches(map, command.oldPosition, static_cast<uint32_t>(at - command.oldPosition),
                        oldSize, bytes, predicted.size(), 0, predicted.data(), carry);
        std::copy(predicted.begin(), predicted.end(), bytes);
      },
      {});
  streams.filter = DELTA_FILTER_X86_BRANCHES;
  streams.mapMinimum = mapMinimum;
  return streams;
}
