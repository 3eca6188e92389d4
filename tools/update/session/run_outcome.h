// How one start of the updater ended, as its process exit code. Game
// launchers start Update.exe and act on this value, so the numbers are a
// contract: they never change meaning and are the same in both modes.
#pragma once

enum RunOutcome : int {
  // Every entry installed and the version recorded.
  RUN_SUCCEEDED = 0,
  // A damaged or unreadable updater, an entry not extracted, staged or
  // installed, or a commit that failed and was undone: the game is as it was
  // (a package the launcher applied aside). Also a game where another
  // patch's commit was cut short: that patch's updater finishes it.
  RUN_FAILED = 1,
  // Refused at start (another updater, the game running, an unusable
  // directory) or left with Escape or the close box before a run.
  RUN_REFUSED = 2,
  // The installed version lies outside the patch's range; nothing was written.
  RUN_VERSION_REFUSED = 3,
  // Every entry installed, but the version record could not be written: the
  // next run applies the patch again.
  RUN_VERSION_NOT_RECORDED = 4,
  // Refused before anything was written: an installed file the patch applies
  // a delta to is not the build the patch was made from, or a path the run
  // would write or remove passes through a link. Repair the game or fetch
  // the full patch.
  RUN_SOURCE_MISMATCH = 5,
  // Refused before anything was written: a volume the run writes to has too
  // little free space. The same updater runs once the space is freed.
  RUN_DISK_SPACE_SHORT = 6,
};

// What the checks a run makes before its first write found; each stays true
// unless that check refused the run.
struct RunChecks {
  bool versionOk = true;  // the version gate let the run through
  bool spaceOk = true;    // every volume had room for the run
  bool sourcesOk = true;  // the installed files fit the patch, and no link is in the way
  // No commit of another patch, cut short, waits in the game directory (nor
  // a journal that cannot be read): the run is refused then (RUN_FAILED).
  bool noForeignCommit = true;
};

// The outcome of a run that got past the start: `applied` is what the patch
// run returned, `checks` what its checks found, `recorded` whether the
// version record was written (looked at only when applied).
inline RunOutcome OutcomeOfRun(bool applied, const RunChecks& checks, bool recorded) {
  if (applied) return recorded ? RUN_SUCCEEDED : RUN_VERSION_NOT_RECORDED;
  if (!checks.versionOk) return RUN_VERSION_REFUSED;
  if (!checks.sourcesOk) return RUN_SOURCE_MISMATCH;
  return checks.spaceOk ? RUN_FAILED : RUN_DISK_SPACE_SHORT;
}
