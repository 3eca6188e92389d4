// How much free space a run needs before it writes its first byte, per
// volume. Entries are extracted (or decoded) one at a time into the run's
// folder in the temporary directory, so at most the largest exists there at
// one time; every file of the game is staged as "<target>.upd-new" beside its
// target before the first one replaces its target, so all of them exist at
// once (the backups the commit keeps are renames and take nothing). Portable:
// the caller names the volumes and asks the system for the free space.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/format/entry_detail.h"
#include "update/format/payload_table.h"
#include "update/plan/install_plan.h"

// Room kept free beyond the entries themselves (file system records, the
// launcher's copy, "launch.txt", the log line): one MiB on each volume.
constexpr uint64_t SPACE_MARGIN_BYTES = uint64_t(1) << 20;

// What one entry takes: in the run's folder while it is extracted, beside
// its target once it is staged, and beside its target only while it is
// staged (the steps of a way).
struct EntrySpace {
  uint64_t tempBytes = 0;
  uint64_t gameBytes = 0;
  uint64_t passingBytes = 0;
};

// A plain entry is extracted whole into the run's folder and, unless it is
// a package (which the launcher unpacks, where the updater cannot measure
// it), copied beside its target as well. A described entry goes by its kind:
// a package decoded into the run's folder, a file decoded straight beside
// its target, a removal nothing. A file already at its new bytes
// (`installed`) is not written at all.
EntrySpace SpaceOfEntry(const PayloadEntry& entry, const EntryDetail& detail, bool installed);

// A way of several entries (install_plan.h) from entry `start`: the last
// entry's result is staged beside the target (gameBytes); while a step is
// decoded, the step before it is still on disk there too, and while the last
// is decoded, the step it reads (passingBytes, the most of either).
EntrySpace SpaceOfWay(const std::vector<PayloadEntry>& table,
                      const std::vector<EntryDetail>& details, const InstallPlan& plan,
                      uint32_t start);

// What every entry of a planned run takes: SpaceOfEntry, or SpaceOfWay for
// the entry that starts a way of several; a file's other entries take
// nothing of their own, and a file already at its new bytes nothing at all.
std::vector<EntrySpace> SpacesOfPlan(const std::vector<PayloadEntry>& table,
                                     const std::vector<EntryDetail>& details,
                                     const InstallPlan& plan);

struct VolumeNeed {
  std::string volume;  // as the caller named it
  uint64_t bytes = 0;  // needed at most at one time, margin included
};

// What each volume needs: the temporary folder's volume the largest of the
// entries' tempBytes, the game directory's the sum of their gameBytes and the
// largest of their passingBytes, each with the margin. Two volume names equal
// without regard to ASCII case
// (drive letters, as the system compares them) are one volume: the needs are
// summed, and the margin counted once. Nothing is needed without entries.
std::vector<VolumeNeed> SpaceNeedsFor(const std::vector<EntrySpace>& entries,
                                      const std::string& tempVolume, const std::string& gameVolume);

// The whole mebibytes still missing when `free` bytes are available and
// `needed` are needed, rounded up; 0 when there is enough.
uint64_t MegabytesShort(uint64_t needed, uint64_t free);
