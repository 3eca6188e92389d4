// A commit that a killed run of an updater left in a game directory, judged
// as the updater judges it: its own patch's is finished or undone before the
// run goes on, a finished one is only cleaned up, and another patch's, or a
// journal that cannot be read, refuses the run (exit code 1).
#pragma once

#include <string>

#include "update/plan/commit_journal.h"

struct PendingCommit {
  enum class Found { None, Damaged, ThisPatch, Finished, OtherPatch };
  Found found = Found::None;
  std::string path;       // the journal's, when there is one
  CommitJournal journal;  // when it could be read
};

// `updaterPath` is the updater file whose run is asked about: a journal
// names its patch by the MD5 of that file.
PendingCommit FindPendingCommit(const std::string& gameDir, const std::string& updaterPath);

// Why the updater would refuse to run on `pending`; empty when it would not.
// Where the installed version is outside the patch's range
// (`versionRefused`), any journal refuses the run as another patch's would.
std::string PendingCommitRefusal(const PendingCommit& pending, bool versionRefused);
// One line on what the run does with `pending` ("none" without a journal).
std::string PendingCommitSummary(const PendingCommit& pending);
const char* PendingCommitName(PendingCommit::Found found);
