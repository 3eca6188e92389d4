// The removals a patch carries (EntryKind::Removal), made after every other
// entry is installed and before the version record.
#pragma once

#include <cstdint>
#include <vector>

#include "update/format/entry_detail.h"
#include "update/session/plan_run.h"
#include "update/session/run_failure.h"

// Removes each removal's file when it holds the old build's bytes (its
// descriptor's source size and MD5); a file the player changed, or one
// already gone, is left as it is. The folders a removal leaves empty go
// too, up to (never including) the game directory `gameDir`. Each removal
// reports PG_INSTALL_BEGIN and PG_INSTALL_END with its ordinal. A file that
// cannot be read or removed, after the retries, sets `failure` and ends the
// removals there.
void RemoveDescribedFiles(const char* gameDir, const std::vector<EntryDetail>& details,
                          const std::vector<EntryTarget>& targets, uint32_t entryCount,
                          RunFailure& failure);
