#include "update/plan/space_needs.h"

#include <cstddef>

#include "update/base/ascii_case.h"

namespace {

// Drive letters and mount folders, as the system compares them.
bool SameVolume(const std::string& a, const std::string& b) {
  return EqualsIgnoringAsciiCase(a, b);
}

}  // namespace

EntrySpace SpaceOfEntry(const PayloadEntry& entry, const EntryDetail& detail, bool installed) {
  EntrySpace space;
  const bool described = detail.HasDescriptor();
  switch (InstallKindOf(entry, detail)) {
    case EntryKind::Package:
      space.tempBytes = DecodedSize(entry, detail);
      break;
    case EntryKind::PlainFile:
    case EntryKind::PathFile:
      if (!described) space.tempBytes = entry.size;
      if (!installed) space.gameBytes = DecodedSize(entry, detail);
      break;
    case EntryKind::Removal:
    case EntryKind::BuildList:
      break;
  }
  return space;
}

EntrySpace SpaceOfWay(const std::vector<PayloadEntry>& table,
                      const std::vector<EntryDetail>& details, const InstallPlan& plan,
                      uint32_t start) {
  EntrySpace space;
  uint64_t before = 0;
  for (uint32_t i = start; i < table.size(); i = plan.entries[i].next) {
    const uint64_t size = DecodedSize(table[i], details[i]);
    if (plan.entries[i].next >= table.size()) {
      // The last entry's result is the file's own, staged.
      space.gameBytes = size;
      if (before > space.passingBytes) space.passingBytes = before;
    } else if (before + size > space.passingBytes) {
      space.passingBytes = before + size;
    }
    before = size;
  }
  return space;
}

std::vector<EntrySpace> SpacesOfPlan(const std::vector<PayloadEntry>& table,
                                     const std::vector<EntryDetail>& details,
                                     const InstallPlan& plan) {
  std::vector<EntrySpace> spaces(table.size());
  for (size_t index = 0; index < table.size() && index < plan.entries.size(); ++index) {
    const PlannedEntry& planned = plan.entries[index];
    const EntryDetail& detail = details[index];
    const bool installed = detail.HasDescriptor() && planned.action == InstallAction::Same;
    const bool passedBy = detail.HasDescriptor() && detail.descriptor.kind == EntryKind::PathFile &&
                          !planned.startsWay;
    if (!passedBy) spaces[index] = SpaceOfEntry(table[index], detail, installed);
    if (planned.startsWay && planned.next != NO_ENTRY && !installed) {
      spaces[index] = SpaceOfWay(table, details, plan, static_cast<uint32_t>(index));
    }
  }
  return spaces;
}

std::vector<VolumeNeed> SpaceNeedsFor(const std::vector<EntrySpace>& entries,
                                      const std::string& tempVolume,
                                      const std::string& gameVolume) {
  std::vector<VolumeNeed> needs;
  if (entries.empty()) return needs;
  uint64_t largestExtracted = 0;
  uint64_t staged = 0;
  uint64_t largestPassing = 0;
  for (const EntrySpace& entry : entries) {
    if (entry.tempBytes > largestExtracted) largestExtracted = entry.tempBytes;
    staged += entry.gameBytes;
    if (entry.passingBytes > largestPassing) largestPassing = entry.passingBytes;
  }
  const uint64_t stagedAtOnce = staged + largestPassing;
  if (SameVolume(tempVolume, gameVolume)) {
    VolumeNeed need;
    need.volume = gameVolume;
    need.bytes = largestExtracted + stagedAtOnce + SPACE_MARGIN_BYTES;
    needs.push_back(need);
    return needs;
  }
  VolumeNeed temp;
  temp.volume = tempVolume;
  temp.bytes = largestExtracted + SPACE_MARGIN_BYTES;
  VolumeNeed game;
  game.volume = gameVolume;
  game.bytes = stagedAtOnce + SPACE_MARGIN_BYTES;
  needs.push_back(temp);
  needs.push_back(game);
  return needs;
}

uint64_t MegabytesShort(uint64_t needed, uint64_t free) {
  if (free >= needed) return 0;
  const uint64_t missing = needed - free;
  return (missing + (uint64_t(1) << 20) - 1) >> 20;
}
