// Closing one pairing of an alignment where the next one begins, the same for
// the suffix-array and the block aligners: the previous pairing (from new
// `lastScan`, old `lastPosition`) was stretched `forward` bytes, the next one
// (at new `scan`, old `position`) `backward` bytes; where the stretches
// overlap, the split that keeps the most agreeing bytes wins, and the
// previous pairing's command is appended, the bytes between the two
// stretches inserted.
#pragma once

#include <cstdint>
#include <vector>

#include "mkpatch/codec/delta_streams.h"

// `agrees(oldAt, newAt)`: whether the old byte at oldAt equals the new one.
template <typename Agrees>
void ClosePairing(int64_t lastScan, int64_t lastPosition, int64_t scan, int64_t position,
                  int64_t* forward, int64_t* backward, Agrees agrees,
                  std::vector<DeltaCommand>& commands) {
  if (lastScan + *forward > scan - *backward) {
    const int64_t overlap = (lastScan + *forward) - (scan - *backward);
    int64_t score = 0, best = 0, split = 0;
    for (int64_t i = 0; i < overlap; ++i) {
      if (agrees(lastPosition + *forward - overlap + i, lastScan + *forward - overlap + i)) {
        ++score;
      }
      if (agrees(position - *backward + i, scan - *backward + i)) --score;
      if (score > best) {
        best = score;
        split = i + 1;
      }
    }
    *forward += split - overlap;
    *backward -= split;
  }
  const int64_t insertFrom = lastScan + *forward;
  const int64_t insertTo = scan - *backward;
  if (*forward > 0 || insertTo > insertFrom) {
    commands.push_back(DeltaCommand{static_cast<uint64_t>(lastPosition),
                                    static_cast<uint64_t>(*forward),
                                    static_cast<uint64_t>(insertTo - insertFrom)});
  }
}
