// What the run does with each described entry, settled before its first
// write: the file of the game each one writes or removes, none of them
// reached through a link, every delta's installed source the build the
// patch was made from, and which files already hold their new bytes.
#pragma once

#include <vector>

#include "update/format/payload_table.h"
#include "update/format/run_entries.h"
#include "update/plan/space_needs.h"
#include "update/session/run_failure.h"
#include "update/session/update_session.h"

struct EntryTarget {
  // The file a described file entry writes or a removal removes, inside the
  // game directory; empty for plain entries and packages.
  char path[UPDATE_PATH_SIZE] = {};
  // The installed file a delta is applied to: the one at `path`, or the one
  // the new build renamed (the descriptor's sourcePath). Empty otherwise.
  char source[UPDATE_PATH_SIZE] = {};
  // A described file already at its new size and MD5 (an earlier run that
  // was interrupted installed it): left as it is.
  bool installed = false;
};

// One target per entry of `entries` (ReadRunEntries of `table`). Refuses
// the run (false, `failure` set, nothing written) when a path does not fit,
// when a link is in the way or a delta's source is not the old build's file
// while its target is not the new one yet (both with *sourcesMatch false:
// exit code 5), when such a source cannot be read, or when an earlier entry
// would overwrite the file a later delta reads (a patch in the wrong order).
bool PlanDescribedEntries(const char* gameDir, const std::vector<PayloadEntry>& table,
                          const std::vector<RunEntry>& entries, std::vector<EntryTarget>* targets,
                          RunFailure& failure, bool* sourcesMatch);

// What each entry has on disk at most at one time (space_needs.h).
std::vector<EntrySpace> SpaceOfEntries(const std::vector<PayloadEntry>& table,
                                       const std::vector<RunEntry>& entries,
                                       const std::vector<EntryTarget>& targets);
