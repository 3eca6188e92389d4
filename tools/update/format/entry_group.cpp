#include "update/format/entry_group.h"

#include <cstring>
#include <string>

#include "update/base/gbk_text.h"
#include "update/base/text_hash.h"

namespace {

bool SameResult(const EntryDescriptor& a, const EntryDescriptor& b) {
  return a.decodedSize == b.decodedSize &&
         std::memcmp(a.decodedMd5, b.decodedMd5, ENTRY_DIGEST_SIZE) == 0;
}

bool IsPathFile(const EntryDetail& detail) {
  return detail.HasDescriptor() && detail.descriptor.kind == EntryKind::PathFile;
}

// Whether every step of the group reaches an entry that is not a step, one
// continuing delta after another. Some delta continuing each step is not
// enough: a step continued only by itself, or steps continued only by each
// other, never reach the new bytes, and the way through them would stop on
// a step and install its bytes as the file. So the entries that reach are
// found from the ends back: those that are not steps, then every step that
// one of them continues, and so on; a step is marked only once an entry that
// already reaches continues it, so no step or cycle of steps vouches for
// itself. Each entry is taken once: the group's size squared at most.
bool EveryStepLeadsOn(const std::vector<EntryDetail>& details, const EntryGroups& groups,
                      uint32_t first) {
  std::vector<uint32_t> members;
  for (uint32_t i = first; i != NO_ENTRY; i = groups.next[i]) members.push_back(i);
  std::vector<char> reaches(members.size(), 0);
  std::vector<size_t> pending;  // reaching entries whose continued steps are not yet marked
  for (size_t k = 0; k < members.size(); ++k) {
    if (details[members[k]].descriptor.IsStep()) continue;
    reaches[k] = 1;
    pending.push_back(k);
  }
  while (!pending.empty()) {
    const EntryDescriptor& delta = details[members[pending.back()]].descriptor;
    pending.pop_back();
    for (size_t k = 0; k < members.size(); ++k) {
      if (reaches[k] == 0 && Continues(delta, details[members[k]].descriptor)) {
        reaches[k] = 1;
        pending.push_back(k);
      }
    }
  }
  for (char reached : reaches) {
    if (reached == 0) return false;
  }
  return true;
}

// One group's rules; `first` its first entry.
bool IsSound(const std::vector<EntryDetail>& details, const EntryGroups& groups, uint32_t first) {
  const EntryDescriptor* result = nullptr;
  int wholes = 0;
  for (uint32_t i = first; i != NO_ENTRY; i = groups.next[i]) {
    const EntryDescriptor& d = details[i].descriptor;
    if (d.coding != EntryCoding::Delta) ++wholes;
    if (d.IsStep()) continue;
    if (result != nullptr && !SameResult(*result, d)) return false;
    result = &d;
  }
  if (result == nullptr || wholes > 1) return false;
  return EveryStepLeadsOn(details, groups, first);
}

}  // namespace

bool Continues(const EntryDescriptor& delta, const EntryDescriptor& result) {
  return delta.coding == EntryCoding::Delta && delta.sourceSize == result.decodedSize &&
         std::memcmp(delta.sourceMd5, result.decodedMd5, ENTRY_DIGEST_SIZE) == 0;
}

EntryGroups GroupEntries(const std::vector<PayloadEntry>& table,
                         const std::vector<EntryDetail>& details) {
  EntryGroups groups;
  groups.first.assign(table.size(), NO_ENTRY);
  groups.next.assign(table.size(), NO_ENTRY);
  // Each group's folded path, its hash and its last entry so far.
  struct Open {
    uint32_t hash;
    std::string folded;
    uint32_t first;
    uint32_t last;
  };
  std::vector<Open> open;
  for (uint32_t i = 0; i < table.size(); ++i) {
    if (!IsPathFile(details[i])) continue;
    std::string folded = FoldGbkName(details[i].descriptor.path);
    const uint32_t hash = HashText(folded);
    Open* group = nullptr;
    for (Open& candidate : open) {
      if (candidate.hash == hash && candidate.folded == folded) group = &candidate;
    }
    if (group == nullptr) {
      open.push_back(Open{hash, std::move(folded), i, i});
      groups.first[i] = i;
      continue;
    }
    groups.first[i] = group->first;
    groups.next[group->last] = i;
    group->last = i;
  }
  return groups;
}

uint32_t FindBrokenGroup(const std::vector<PayloadEntry>& table,
                         const std::vector<EntryDetail>& details, const EntryGroups& groups) {
  std::vector<uint32_t> hashes;  // of the groups' folded paths, for the removals
  std::vector<std::string> paths;
  for (uint32_t i = 0; i < table.size(); ++i) {
    if (groups.first[i] != i) continue;
    if (!IsSound(details, groups, i)) return i;
    paths.push_back(FoldGbkName(details[i].descriptor.path));
    hashes.push_back(HashText(paths.back()));
  }
  for (uint32_t i = 0; i < table.size(); ++i) {
    if (!details[i].HasDescriptor() || details[i].descriptor.kind != EntryKind::Removal) continue;
    const std::string folded = FoldGbkName(details[i].descriptor.path);
    const uint32_t hash = HashText(folded);
    for (size_t g = 0; g < paths.size(); ++g) {
      if (hashes[g] == hash && paths[g] == folded) return i;
    }
  }
  return NO_ENTRY;
}
