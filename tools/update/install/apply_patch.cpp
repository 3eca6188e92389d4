// One update run in three phases: the own file read and checked, the run
// planned against the installed game, then applied. Nothing is written
// before the third.
#include "update/format/version_gate.h"
#include "update/install/apply_run.h"
#include "update/log/logger.h"
#include "update/session/host_hooks.h"
#include "update/session/plan_run.h"
#include "update/session/read_patch.h"
#include "update/session/update_session.h"

int UpdateSession::CheckVersion(const char* installedVersion) {
  return IsVersionInRange(installedVersion, baseVersion.c_str(), targetVersion.c_str()) ? 1 : 0;
}

int UpdateSession::ApplyPatch(bool& versionOk) {
  bool spaceOk = true;
  return ApplyPatch(versionOk, spaceOk);
}

int UpdateSession::ApplyPatch(bool& versionOk, bool& spaceOk) {
  RunChecks checks;
  const int applied = ApplyPatch(checks);
  versionOk = checks.versionOk;
  spaceOk = checks.spaceOk;
  return applied;
}

int UpdateSession::ApplyPatch(RunChecks& checks) {
  ownFileDigest = StampedDigest();
  RunFailure failure;
  OwnFileSource source;
  PatchContents patch;
  RunPlan plan;
  if (ReadPatch(*this, source, &patch, checks, failure) &&
      PlanRun(gameDir, source, patch, &plan, checks, failure)) {
    ApplyRun(*this, source, patch, plan, failure);
  }
  // Before the box: the user may keep it open for a long time.
  source.Close();
  if (failure.text[0] != '\0') {
    ShowWarning(failure.text);
    g_Log.Info("%s", failure.text);
  }
  return failure.Failed() ? 0 : 1;
}
