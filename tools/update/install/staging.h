// The files a run has staged so far, as the steps of its commit
// (update/plan/commit_journal.h): every file of the game the run writes is
// staged as "<target>.upd-new" beside its target, and every file it removes
// is named, before the commit touches the first of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/plan/commit_journal.h"

class Staging {
 public:
  // `gameDir` must outlive the object.
  Staging(const char* gameDir, const std::string& patch, const std::string& targetVersion);

  // `target` (a whole path in the game directory) is about to be staged: a
  // step that replaces it, or adds it where there is no file yet. Named
  // before its copy is written, so that a failure on the way removes that
  // too. A file staged twice is one step, the later copy the one that counts.
  // False for a path outside the game directory (or none), which no step
  // can name.
  bool Stage(const char* target);
  // `target` goes in the commit; false as above.
  bool Remove(const char* target);

  // Every staged copy removed, with the folders made for them that are left
  // empty (and no folder that was there before): the game as it was before
  // the run.
  void Discard() const;

  const char* GameDir() const { return gameDir_; }
  CommitJournal& Journal() { return journal_; }

 private:
  bool Add(CommitOp op, const char* target);

  const char* gameDir_;
  CommitJournal journal_;
  // The steps' paths folded as the system compares names, and their hashes.
  std::vector<std::string> folded_;
  std::vector<uint32_t> hashes_;
};
