// One update run in three phases: the own file read and checked, the run
// planned against the installed game, then applied. Nothing is written
// before the third, but for finishing (or undoing) the commit of this patch
// that a killed run left.
#include "update/format/version_gate.h"
#include "update/install/apply_run.h"
#include "update/install/commit.h"
#include "update/log/logger.h"
#include "update/session/host_hooks.h"
#include "update/session/plan_run.h"
#include "update/session/read_patch.h"
#include "update/session/update_session.h"

namespace {

const char kTextVersionRefused[] = "更新版本号不对,请重新下载!";

}  // namespace

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
  const bool read = ReadPatch(*this, source, &patch, checks, failure);
  if (!checks.versionOk) {
    // A commit cut short sits between two builds, so the version record
    // says little: the updater that began it is the one to run.
    if (CommitPending(gameDir)) {
      checks.versionOk = true;
      checks.noForeignCommit = false;
      SetCommitPendingFailure(gameDir, failure);
    } else if (!autoMode) {
      ShowWarning(kTextVersionRefused);
    }
  }
  if (read) {
    if (!RecoverCommit(gameDir, ownFileDigest.hex, failure)) {
      checks.noForeignCommit = false;
    } else if (PlanRun(gameDir, source, patch, &plan, checks, failure)) {
      ApplyRun(*this, source, patch, plan, failure);
    }
  }
  // Before the box: the user may keep it open for a long time.
  source.Close();
  if (failure.text[0] != '\0') {
    ShowWarning(failure.text);
    g_Log.Info("%s", failure.text);
  }
  return failure.Failed() ? 0 : 1;
}
