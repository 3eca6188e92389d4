// The third phase of an update run, once its own file is checked and the run
// planned: each entry extracted (or decoded) and installed in payload order,
// then the removals.
#pragma once

#include "update/session/own_file_source.h"
#include "update/session/plan_run.h"
#include "update/session/read_patch.h"
#include "update/session/run_failure.h"
#include "update/session/update_session.h"

// Entries are extracted into the run's folder in the temporary directory,
// which goes at the end whatever happened; the first failure ends the run
// there with `failure` set.
void ApplyRun(UpdateSession& session, OwnFileSource& source, const PatchContents& patch,
              const RunPlan& plan, RunFailure& failure);
