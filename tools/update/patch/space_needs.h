// How much free space a run needs before it writes its first byte, per
// volume. Entries are extracted one at a time into the run's folder in the
// temporary directory, and a plain file is copied to "<target>.upd-new" beside
// its target before the rename, so at most the largest of each exists at one
// time. Portable: the caller names the volumes and asks the system for the
// free space.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload_table.h"

// Room kept free beyond the entries themselves (file system records, the
// launcher's copy, "launch.txt", the log line): one MiB on each volume.
constexpr uint64_t SPACE_MARGIN_BYTES = uint64_t(1) << 20;

// The bytes an entry takes once installed. Today the stored bytes are the
// installed bytes; an entry kind whose installed size differs changes this
// function and nothing else.
uint64_t InstalledSize(const PayloadEntry& entry);

// Whether an entry goes through the game's launcher (a ".tpk" package)
// rather than being copied beside its target.
bool IsPackageEntry(const PayloadEntry& entry);

struct VolumeNeed {
  std::string volume;  // as the caller named it
  uint64_t bytes = 0;  // needed at most at one time, margin included
};

// What each volume needs: the temporary folder's volume the largest entry
// extracted, the game directory's the largest plain file's replacement copy,
// each with the margin. Two volume names equal without regard to ASCII case
// (drive letters, as the system compares them) are one volume: the needs are
// summed, and the margin counted once. Nothing is needed without entries.
std::vector<VolumeNeed> SpaceNeeds(const std::vector<PayloadEntry>& entries,
                                   const std::string& tempVolume, const std::string& gameVolume);

// The whole mebibytes still missing when `free` bytes are available and
// `needed` are needed, rounded up; 0 when there is enough.
uint64_t MegabytesShort(uint64_t needed, uint64_t free);
