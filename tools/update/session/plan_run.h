// The second phase of an update run, still before its first write: what each
// entry does in the installed game (the install planner, update/plan), the
// refusals the plan finds, and the free space the run needs.
#pragma once

#include <vector>

#include "update/plan/install_plan.h"
#include "update/session/own_file_source.h"
#include "update/session/read_patch.h"
#include "update/session/run_failure.h"
#include "update/session/run_outcome.h"

struct EntryTarget {
  // The file an entry writes or removes, inside the game directory; empty
  // for packages and a build's list.
  char path[UPDATE_PATH_SIZE] = {};
  // The installed file a delta is applied to: the one at `path`, or the one
  // the new build renamed (the descriptor's sourcePath). Empty otherwise.
  char source[UPDATE_PATH_SIZE] = {};
  // A described file already at its new size and MD5 (an earlier run that
  // was interrupted installed it): left as it is.
  bool installed = false;
};

struct RunPlan {
  InstallPlan install;
  std::vector<EntryTarget> targets;  // one per entry
};

// Plans the entries of `patch` against the game in `gameDir`. Refuses the run
// (false, `failure` set, nothing written) on the plan's first refusal, in
// payload order: a path that does not fit or a link in the way, a delta
// whose source is not the old build's file while its target is not the new
// one yet (both with checks.sourcesOk false: exit code 5), a source that
// cannot be read, an earlier entry that would overwrite the file a later
// delta reads (a patch in the wrong order); and when a volume has too little
// free space (checks.spaceOk false: exit code 6).
bool PlanRun(const char* gameDir, OwnFileSource& source, const PatchContents& patch, RunPlan* plan,
             RunChecks& checks, RunFailure& failure);
