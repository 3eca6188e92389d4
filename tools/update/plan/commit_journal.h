// The journal of a run's commit: which patch it is, whether it is going
// forward or being rolled back, and the steps that put the staged files in
// place. It lies in the game directory from the moment the commit begins
// until it has ended, so that a run that was killed on the way is finished
// (or undone) by the next one, and never leaves a mix of two builds.
// Portable: the updater keeps it, mkpatch check reports it.
//
// Text, one line each (GBK paths, '\' between parts, relative to the game
// directory):
//   journal 1
//   patch <32 hex digits, the MD5 of the updater file> <target version>
//   state commit | state rollback | state done
//   replace <path>     the staged <path>.upd-new replaces <path>, kept as <path>.upd-old
//   add <path>         the staged <path>.upd-new becomes <path>, where none was
//   remove <path>      <path> goes, kept as <path>.upd-old
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The journal's name in the game directory, and what it is written under
// before it replaces an earlier one in one step.
constexpr char COMMIT_JOURNAL_NAME[] = "TPK_MVR_J_UPDATE.journal";
constexpr char COMMIT_JOURNAL_SCRATCH_NAME[] = "TPK_MVR_J_UPDATE.journal.upd-new";

// Commit: steps are being taken. Rollback: steps are being undone. Done:
// every step was taken, and the backups are going.
enum class CommitState : uint8_t { Commit = 1, Rollback = 2, Done = 3 };
enum class CommitOp : uint8_t { Replace = 1, Add = 2, Remove = 3 };

struct CommitStep {
  CommitOp op = CommitOp::Replace;
  std::string path;
  // Not in the journal's text: how many bytes of `path` name folders that
  // were there before the run staged the step (0: the game directory
  // only). A rollback within that run takes away no folder above them.
  // A journal read back after a crash cannot tell, and its rollback takes
  // every folder an added file leaves empty.
  size_t existingFolders = 0;
};

struct CommitJournal {
  std::string patch;  // 32 lowercase hex digits
  std::string targetVersion;
  CommitState state = CommitState::Commit;
  std::vector<CommitStep> steps;
};

std::string FormatJournal(const CommitJournal& journal);
// False when `text` is not a journal this reader can act on: an unknown
// version or line, a patch that is no digest, a path that is not safe.
bool ParseJournal(const std::string& text, CommitJournal* journal);
