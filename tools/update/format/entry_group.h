// The entries that install at one path: one file's ways to its new bytes.
// A patch made from one old build has one entry per file; one made from
// several may have a delta from each old content, steps (deltas whose
// results are the sources of other deltas of the file) and one whole file
// (entry_descriptor.h, "Several entries for one file" in docs/mkpatch.md).
// Portable.
#pragma once

#include <cstdint>
#include <vector>

#include "update/format/entry_detail.h"
#include "update/format/payload_table.h"

constexpr uint32_t NO_ENTRY = UINT32_MAX;

struct EntryGroups {
  // Per entry: the first entry (in payload order) of its path's group, for
  // entries installed at a path; NO_ENTRY for every other.
  std::vector<uint32_t> first;
  // Per entry: the next entry of its group, or NO_ENTRY.
  std::vector<uint32_t> next;
};

// Groups the entries of kind PathFile by their paths, compared as Windows
// compares names.
EntryGroups GroupEntries(const std::vector<PayloadEntry>& table,
                         const std::vector<EntryDetail>& details);

// The first entry of a group that breaks the rules a reader relies on: its
// entries that are not steps decode to different bytes, or there are none;
// it has more than one entry that is not a delta; a step does not lead,
// through the deltas its result is the source of, to an entry that is not a
// step (a step that only continues itself, steps in a cycle); or a removal
// shares its path. NO_ENTRY when every group is sound.
uint32_t FindBrokenGroup(const std::vector<PayloadEntry>& table,
                         const std::vector<EntryDetail>& details, const EntryGroups& groups);

// Whether `delta` applies to what `result` decodes to: the source it names.
bool Continues(const EntryDescriptor& delta, const EntryDescriptor& result);
