#include "mkpatch/inspect/pending_commit.h"

#include <cstdio>

#include "mkpatch/fs/file_digest.h"
#include "mkpatch/fs/file_system.h"
#include "mkpatch/fs/name_encoding.h"
#include "update/format/payload_digest.h"

namespace {

// A journal holds a few hundred bytes; anything past this is no journal.
constexpr uint64_t kJournalLimit = 64u << 20;

bool ReadSmallFile(const std::string& path, std::string* text) {
  UniqueFile file = OpenFile(path, "rb");
  uint64_t size = 0;
  if (!file || !FileSize(file.Get(), &size) || size > kJournalLimit) return false;
  text->resize(static_cast<size_t>(size));
  return size == 0 || std::fread(&(*text)[0], 1, text->size(), file.Get()) == text->size();
}

const char* StateName(CommitState state) {
  switch (state) {
    case CommitState::Commit:
      return "putting its files in place";
    case CommitState::Rollback:
      return "taking its files back";
    case CommitState::Done:
      return "cleaning up after it was complete";
  }
  return "?";
}

}  // namespace

PendingCommit FindPendingCommit(const std::string& gameDir, const std::string& updaterPath) {
  PendingCommit pending;
  // The updater names the journal exactly; Windows finds it whatever the case.
  if (!FindIgnoringCase(gameDir, COMMIT_JOURNAL_NAME, &pending.path) ||
      !IsRegularFile(pending.path)) {
    pending.path.clear();
    return pending;
  }
  std::string text;
  if (!ReadSmallFile(pending.path, &text) || !ParseJournal(text, &pending.journal)) {
    pending.found = PendingCommit::Found::Damaged;
    return pending;
  }
  if (pending.journal.state == CommitState::Done) {
    pending.found = PendingCommit::Found::Finished;
    return pending;
  }
  uint64_t size = 0;
  unsigned char md5[PAYLOAD_DIGEST_SIZE] = {};
  const bool same = DigestFile(updaterPath, &size, md5) && DigestHex(md5) == pending.journal.patch;
  pending.found = same ? PendingCommit::Found::ThisPatch : PendingCommit::Found::OtherPatch;
  return pending;
}

std::string PendingCommitRefusal(const PendingCommit& pending, bool versionRefused) {
  PendingCommit::Found found = pending.found;
  if (versionRefused && found != PendingCommit::Found::Damaged) {
    found = PendingCommit::Found::OtherPatch;
  }
  switch (found) {
    case PendingCommit::Found::Damaged:
      return "the journal of an update cut short, " + pending.path +
             ", cannot be read: repair or reinstall the game";
    case PendingCommit::Found::OtherPatch:
      return "another patch's update (to " + GbkForDisplay(pending.journal.targetVersion) +
             ") was cut short while " + StateName(pending.journal.state) +
             ": run that patch's updater again first";
    default:
      return std::string();
  }
}

std::string PendingCommitSummary(const PendingCommit& pending) {
  const std::string target = GbkForDisplay(pending.journal.targetVersion);
  switch (pending.found) {
    case PendingCommit::Found::None:
      return "none";
    case PendingCommit::Found::Damaged:
      return "damaged journal " + pending.path;
    case PendingCommit::Found::ThisPatch:
      return "this patch's, to " + target + ", cut short while " +
             StateName(pending.journal.state) + ": the run finishes or undoes it first";
    case PendingCommit::Found::Finished:
      return "an update to " + target + " that was complete: the run removes its backups first";
    case PendingCommit::Found::OtherPatch:
      return "another patch's, to " + target;
  }
  return std::string();
}

const char* PendingCommitName(PendingCommit::Found found) {
  switch (found) {
    case PendingCommit::Found::None:
      return "none";
    case PendingCommit::Found::Damaged:
      return "damaged";
    case PendingCommit::Found::ThisPatch:
      return "this-patch";
    case PendingCommit::Found::Finished:
      return "finished";
    case PendingCommit::Found::OtherPatch:
      return "other-patch";
  }
  return "?";
}
