// The old builds a patch made from several of them names: their list (an
// entry of its own, base build first) and the builds each delta's or
// removal's source comes from, as names for people.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/format/entry_detail.h"

struct PatchBuilds {
  bool listed = false;             // the patch carries a sound build list
  std::vector<std::string> names;  // UTF-8, base build first
};

// The build list of a readable payload, decoded and checked against its MD5.
// A patch without one names no builds; one that cannot be read (or is larger
// than a list of names would be) is not listed.
PatchBuilds ReadPatchBuilds(ByteSource& updater, const std::vector<PayloadEntry>& table,
                            const std::vector<EntryDetail>& details);

// The names of the builds in `builds` (bit n: build n); a build the list
// does not name is "build n".
std::vector<std::string> NamedBuilds(const PatchBuilds& patch, uint32_t builds);
// The same, joined with ", ".
std::string JoinedBuilds(const PatchBuilds& patch, uint32_t builds);
