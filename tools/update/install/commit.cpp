#include "update/install/commit.h"

#include <windows.h>

#include <cstring>

#include "update/base/bounded_format.h"
#include "update/files/file_retry.h"
#include "update/files/remove_tree.h"
#include "update/files/replace_whole_file.h"
#include "update/install/journal_file.h"
#include "update/log/logger.h"
#include "update/session/file_failure.h"

namespace {

const char kTextUndone[] = "更新失败,游戏文件已恢复为更新前的状态";
const char kTextNotUndone[] = "更新失败,未能恢复游戏文件,请重新运行更新程序 %s";
const char kTextNotCleaned[] = "更新已完成,未能删除备份文件 %s";
const char kTextFinished[] = "已完成上次中断的更新 %s";
const char kTextRolledBack[] = "已撤销上次中断的更新 %s";
const char kTextOtherPatch[] = "游戏目录中另一个更新补丁(%s)的更新尚未完成,请先运行该更新补丁";
const char kTextJournalDamaged[] = "更新记录已损坏,请修复游戏后重新运行更新程序:%s";

// The three names of a step's file: the target, its staged copy, its backup.
struct StepPaths {
  char target[UPDATE_PATH_SIZE] = {};
  char staged[UPDATE_PATH_SIZE] = {};
  char backup[UPDATE_PATH_SIZE] = {};
  bool Compose(const char* gameDir, const CommitStep& step) {
    return FormatFitted(target, sizeof target, "%s\\%s", gameDir, step.path.c_str()) &&
           FormatFitted(staged, sizeof staged, "%s%s", target, REPLACEMENT_SUFFIX) &&
           FormatFitted(backup, sizeof backup, "%s%s", target, BACKUP_SUFFIX);
  }
};

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

SystemResult Move(FileRetry& retry, const char* from, const char* to, DWORD flags) {
  return retry.Run([&] { return MoveFileExA(from, to, flags | MOVEFILE_WRITE_THROUGH) != FALSE; });
}

// One step forward. Replaying a journal a killed run left, from whatever
// state the step is in: a staged copy gone means the step was taken, and it
// is taken again as nothing. On the run's own first pass every staged copy
// is there unless another program took it (a scanner quarantining a new
// program), and a step without it fails. Nothing is ever moved over a file
// the step did not make, so that the rollback has every file back.
SystemResult Take(const StepPaths& paths, CommitOp op, bool replay) {
  FileRetry retry(paths.target, paths.staged);
  const bool staged = Exists(paths.staged);
  if (!staged && !replay && op != CommitOp::Remove) {
    return SystemResult::Failed(ERROR_FILE_NOT_FOUND);
  }
  switch (op) {
    case CommitOp::Replace:
      if (!staged) return SystemResult::Ok();
      if (Exists(paths.target) && !Exists(paths.backup)) {
        if (SystemResult kept = Move(retry, paths.target, paths.backup, 0); !kept) return kept;
      }
      // The target, if one is there now, is the staged copy of a step taken
      // before the run was killed and taken again.
      return Move(retry, paths.staged, paths.target, MOVEFILE_REPLACE_EXISTING);
    case CommitOp::Add:
      if (!staged) return SystemResult::Ok();
      return Move(retry, paths.staged, paths.target, 0);
    case CommitOp::Remove:
      if (!Exists(paths.target) || Exists(paths.backup)) return SystemResult::Ok();
      return Move(retry, paths.target, paths.backup, 0);
  }
  return SystemResult::Ok();
}

// Up to where the folders an added file leaves empty go, as the length of
// the folder that stays: the deepest one on its way that was there before
// the run, as far as the run knows (CommitStep::existingFolders).
size_t KeptFolderLength(const char* gameDir, const CommitStep& step) {
  const size_t root = std::strlen(gameDir);
  return step.existingFolders == 0 ? root : root + 1 + step.existingFolders;
}

// One step undone, from whatever state it is in: the target as it was, and
// the staged copy gone.
SystemResult Undo(const StepPaths& paths, CommitOp op, size_t keptLength) {
  FileRetry retry(paths.target, paths.backup);
  SystemResult result = SystemResult::Ok();
  switch (op) {
    case CommitOp::Replace:
    case CommitOp::Remove:
      // A backup means the file at the target now (if any) is the new one.
      if (Exists(paths.backup)) {
        result = Move(retry, paths.backup, paths.target, MOVEFILE_REPLACE_EXISTING);
      }
      break;
    case CommitOp::Add:
      // The target is ours only once the staged copy has become it.
      if (!Exists(paths.staged) && Exists(paths.target)) {
        result = retry.Run([&] { return DeleteFileA(paths.target) != FALSE; });
      }
      break;
  }
  if (result && Exists(paths.staged)) result = RetryingDeleteFile(paths.staged);
  // A file that was added leaves the folders made for it.
  if (result && op == CommitOp::Add) RemoveEmptyParents(paths.target, keptLength);
  return result;
}

// Every step undone, the last first. A step that cannot be undone is logged
// and the others are undone all the same; the journal then stays, so that
// the next run finishes the rollback.
bool RollBack(const char* gameDir, CommitJournal& journal) {
  // Undone from here on even if the run is killed: the journal says so first.
  journal.state = CommitState::Rollback;
  (void)WriteJournal(gameDir, journal);
  bool whole = true;
  for (size_t i = journal.steps.size(); i-- > 0;) {
    StepPaths paths;
    if (!paths.Compose(gameDir, journal.steps[i])) continue;
    if (!Undo(paths, journal.steps[i].op, KeptFolderLength(gameDir, journal.steps[i]))) {
      g_Log.Info(kTextNotUndone, paths.target);
      whole = false;
    }
  }
  if (whole) (void)RemoveJournal(gameDir);
  return whole;
}

// Whether every step can still be taken, or has been: no staged file that
// a step still needs has gone missing since.
bool CanFinish(const char* gameDir, const CommitJournal& journal) {
  for (const CommitStep& step : journal.steps) {
    StepPaths paths;
    if (!paths.Compose(gameDir, step)) return false;
    switch (step.op) {
      case CommitOp::Replace:
        if (!Exists(paths.staged) && !Exists(paths.backup)) return false;
        break;
      case CommitOp::Add:
        if (!Exists(paths.staged) && !Exists(paths.target)) return false;
        break;
      case CommitOp::Remove:
        break;
    }
  }
  return true;
}

// Backups that no journal names are left from a commit cut short before
// this journal existed; they would stand in for the files this commit keeps.
bool ClearStaleBackups(const char* gameDir, const CommitJournal& journal, RunFailure& failure) {
  for (const CommitStep& step : journal.steps) {
    StepPaths paths;
    if (!paths.Compose(gameDir, step)) {
      SetWriteFailure(failure, paths.target, ERROR_FILENAME_EXCED_RANGE);
      return false;
    }
    if (!Exists(paths.backup)) continue;
    if (const SystemResult cleared = RetryingForceDeleteFile(paths.backup); !cleared) {
      SetWriteFailure(failure, paths.backup, cleared.Error());
      return false;
    }
  }
  return true;
}

}  // namespace

bool CommitRun(const char* gameDir, CommitJournal& journal, RunFailure& failure) {
  if (journal.steps.empty()) return true;
  journal.state = CommitState::Commit;
  if (!ClearStaleBackups(gameDir, journal, failure)) {
    DiscardStaged(gameDir, journal);
    return false;
  }
  if (const SystemResult written = WriteJournal(gameDir, journal); !written) {
    char path[UPDATE_PATH_SIZE];
    FormatFitted(path, sizeof path, "%s\\%s", gameDir, COMMIT_JOURNAL_NAME);
    SetWriteFailure(failure, path, written.Error());
    DiscardStaged(gameDir, journal);
    return false;
  }
  for (const CommitStep& step : journal.steps) {
    StepPaths paths;
    SystemResult taken = SystemResult::Failed(ERROR_FILENAME_EXCED_RANGE);
    if (paths.Compose(gameDir, step)) taken = Take(paths, step.op, false);
    if (taken) continue;
    if (step.op == CommitOp::Remove) {
      SetRemoveFailure(failure, paths.target, taken.Error());
    } else {
      SetWriteFailure(failure, paths.target, taken.Error());
    }
    if (RollBack(gameDir, journal)) g_Log.Info("%s", kTextUndone);
    return false;
  }
  return true;
}

void FinishCommit(const char* gameDir, CommitJournal& journal) {
  if (journal.steps.empty()) return;
  // From here on the commit counts as made, whatever stops the cleaning.
  journal.state = CommitState::Done;
  if (!WriteJournal(gameDir, journal)) {
    // The journal on disk still says the commit is under way, and the next
    // run acts on it: a rollback then needs every backup. Kept, they let
    // that run find every step taken and finish the commit instead.
    return;
  }
  const size_t rootLength = std::strlen(gameDir);
  bool whole = true;
  for (const CommitStep& step : journal.steps) {
    StepPaths paths;
    if (!paths.Compose(gameDir, step)) continue;
    if (Exists(paths.backup) && !RetryingForceDeleteFile(paths.backup)) {
      g_Log.Info(kTextNotCleaned, paths.backup);
      whole = false;
    }
    if (step.op == CommitOp::Remove) RemoveEmptyParents(paths.target, rootLength);
  }
  // A backup that stays is cleaned by the next run.
  if (whole) (void)RemoveJournal(gameDir);
}

void DiscardStaged(const char* gameDir, const CommitJournal& journal) {
  // The last first, as a rollback goes: the first file staged into a folder
  // the run made is the one that takes the folder with it.
  for (size_t i = journal.steps.size(); i-- > 0;) {
    const CommitStep& step = journal.steps[i];
    StepPaths paths;
    if (step.op == CommitOp::Remove || !paths.Compose(gameDir, step)) continue;
    if (Exists(paths.staged)) (void)RetryingDeleteFile(paths.staged);
    if (step.op == CommitOp::Add) {
      RemoveEmptyParents(paths.staged, KeptFolderLength(gameDir, step));
    }
  }
}

bool RecoverCommit(const char* gameDir, const std::string& patch, RunFailure& failure) {
  CommitJournal journal;
  char path[UPDATE_PATH_SIZE];
  switch (ReadJournal(gameDir, &journal, path)) {
    case JournalRead::None:
      return true;
    case JournalRead::Damaged:
      SetNamedFailure(failure, ERROR_FILE_CORRUPT, kTextJournalDamaged, path);
      return false;
    case JournalRead::Read:
      break;
  }
  if (journal.state == CommitState::Done) {
    FinishCommit(gameDir, journal);
    return true;
  }
  if (journal.patch != patch) {
    failure.Set(ERROR_FILE_CORRUPT, kTextOtherPatch, journal.targetVersion.c_str());
    return false;
  }
  if (journal.state == CommitState::Commit && CanFinish(gameDir, journal)) {
    bool whole = true;
    for (const CommitStep& step : journal.steps) {
      StepPaths paths;
      if (!paths.Compose(gameDir, step) || !Take(paths, step.op, true)) whole = false;
    }
    if (whole) {
      FinishCommit(gameDir, journal);
      g_Log.Info(kTextFinished, journal.targetVersion.c_str());
      return true;
    }
  }
  if (!RollBack(gameDir, journal)) {
    SetNamedFailure(failure, ERROR_FILE_CORRUPT, kTextNotUndone, gameDir);
    return false;
  }
  g_Log.Info(kTextRolledBack, journal.targetVersion.c_str());
  return true;
}

bool CommitPending(const char* gameDir) {
  CommitJournal journal;
  char path[UPDATE_PATH_SIZE];
  switch (ReadJournal(gameDir, &journal, path)) {
    case JournalRead::None:
      return false;
    case JournalRead::Damaged:
      return true;
    case JournalRead::Read:
      break;
  }
  // An ended commit waits only for its backups to go, which any run of any
  // patch sees to (RecoverCommit): the game is one build.
  return journal.state != CommitState::Done;
}

void SetCommitPendingFailure(const char* gameDir, RunFailure& failure) {
  CommitJournal journal;
  char path[UPDATE_PATH_SIZE];
  if (ReadJournal(gameDir, &journal, path) == JournalRead::Read) {
    failure.Set(ERROR_FILE_CORRUPT, kTextOtherPatch, journal.targetVersion.c_str());
  } else {
    SetNamedFailure(failure, ERROR_FILE_CORRUPT, kTextJournalDamaged, path);
  }
}
