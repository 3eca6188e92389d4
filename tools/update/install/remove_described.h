// The removals a patch carries (EntryKind::Removal), named to the commit once
// every other file is staged.
#pragma once

#include <cstdint>
#include <vector>

#include "update/format/entry_detail.h"
#include "update/install/staging.h"
#include "update/session/plan_run.h"
#include "update/session/run_failure.h"

// Names each removal's file to `staging` when it holds the old build's bytes
// (its descriptor's source size and MD5); a file the player changed, or one
// already gone, is left as it is. The commit removes them, and the folders
// they leave empty. Each removal reports PG_INSTALL_BEGIN and PG_INSTALL_END
// with its ordinal. A file that cannot be read sets `failure` and ends the
// removals there.
void StageRemovals(const std::vector<EntryDetail>& details, const std::vector<EntryTarget>& targets,
                   uint32_t entryCount, Staging& staging, RunFailure& failure);
