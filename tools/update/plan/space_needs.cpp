#include "update/plan/space_needs.h"

#include <cstddef>

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameVolume(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool EndsWithIgnoringCase(const std::string& text, const char* suffix) {
  const std::string tail(suffix);
  return text.size() >= tail.size() && SameVolume(text.substr(text.size() - tail.size()), tail);
}

}  // namespace

uint64_t InstalledSize(const PayloadEntry& entry) { return entry.size; }

bool IsPackageEntry(const PayloadEntry& entry) { return EndsWithIgnoringCase(entry.name, ".tpk"); }

EntrySpace SpaceOfPlainEntry(const PayloadEntry& entry) {
  EntrySpace space;
  space.tempBytes = entry.size;
  // A package is unpacked by the launcher, which the updater cannot measure.
  if (!IsPackageEntry(entry)) space.gameBytes = InstalledSize(entry);
  return space;
}

EntrySpace SpaceOfDescribedEntry(const EntryDescriptor& descriptor, bool installed) {
  EntrySpace space;
  switch (descriptor.kind) {
    case EntryKind::Package:
      space.tempBytes = descriptor.decodedSize;
      break;
    case EntryKind::PlainFile:
    case EntryKind::PathFile:
      if (!installed) space.gameBytes = descriptor.decodedSize;
      break;
    case EntryKind::Removal:
      break;
  }
  return space;
}

std::vector<VolumeNeed> SpaceNeeds(const std::vector<PayloadEntry>& entries,
                                   const std::string& tempVolume, const std::string& gameVolume) {
  std::vector<EntrySpace> spaces;
  for (const PayloadEntry& entry : entries) spaces.push_back(SpaceOfPlainEntry(entry));
  return SpaceNeedsFor(spaces, tempVolume, gameVolume);
}

std::vector<VolumeNeed> SpaceNeedsFor(const std::vector<EntrySpace>& entries,
                                      const std::string& tempVolume,
                                      const std::string& gameVolume) {
  std::vector<VolumeNeed> needs;
  if (entries.empty()) return needs;
  uint64_t largestExtracted = 0;
  uint64_t largestReplacement = 0;
  for (const EntrySpace& entry : entries) {
    if (entry.tempBytes > largestExtracted) largestExtracted = entry.tempBytes;
    if (entry.gameBytes > largestReplacement) largestReplacement = entry.gameBytes;
  }
  if (SameVolume(tempVolume, gameVolume)) {
    VolumeNeed need;
    need.volume = gameVolume;
    need.bytes = largestExtracted + largestReplacement + SPACE_MARGIN_BYTES;
    needs.push_back(need);
    return needs;
  }
  VolumeNeed temp;
  temp.volume = tempVolume;
  temp.bytes = largestExtracted + SPACE_MARGIN_BYTES;
  VolumeNeed game;
  game.volume = gameVolume;
  game.bytes = largestReplacement + SPACE_MARGIN_BYTES;
  needs.push_back(temp);
  needs.push_back(game);
  return needs;
}

uint64_t MegabytesShort(uint64_t needed, uint64_t free) {
  if (free >= needed) return 0;
  const uint64_t missing = needed - free;
  return (missing + (uint64_t(1) << 20) - 1) >> 20;
}
