// The commit of a run: once every file is staged as "<file>.upd-new" beside
// its target (and the packages are with the launcher), each staged file
// replaces its target and each removal takes its file away, the replaced and
// removed files kept as "<file>.upd-old" until the commit has ended. A step
// that fails undoes every step before it (the rollback), so the game is as
// it was. The steps are written to the journal (journal_file.h) before the
// first is taken, and each step can be taken or undone again whatever state
// a killed run left it in, so the next run finishes what was begun.
#pragma once

#include <string>

#include "update/plan/commit_journal.h"
#include "update/session/run_failure.h"

// Takes the journal's steps in order, the journal written first. On a
// failure the journal turns to a rollback, every step is undone, the log
// says the update was undone, and false is returned with `failure` set for
// the step that failed. A run with no steps writes no journal.
bool CommitRun(const char* gameDir, CommitJournal& journal, RunFailure& failure);

// Ends a commit that went through: the journal says so, the backups go, then
// the folders the removals left empty, then the journal. A journal that
// cannot be told so keeps the backups, for the next run to finish with.
void FinishCommit(const char* gameDir, CommitJournal& journal);

// Removes the staged copies the journal's steps name (a run that ends before
// its commit), with the folders made for them that are left empty.
void DiscardStaged(const char* gameDir, const CommitJournal& journal);

// A journal that a killed run left in the game directory: a commit of this
// patch (`patch`, the MD5 of the updater's file) is finished, forward when
// every staged file it still needs is there, else rolled back, as is a
// rollback that was under way; a commit that had ended is cleaned up
// whichever patch made it. Then the run goes on afresh. A journal of another
// patch, or one that cannot be read, refuses the run before anything is
// written (false, `failure` set).
bool RecoverCommit(const char* gameDir, const std::string& patch, RunFailure& failure);

// Whether a journal lies in the game directory whose commit has not ended,
// or one that cannot be read.
bool CommitPending(const char* gameDir);

// The failure that refuses a run while a commit of another patch waits (or
// a journal that cannot be read).
void SetCommitPendingFailure(const char* gameDir, RunFailure& failure);
