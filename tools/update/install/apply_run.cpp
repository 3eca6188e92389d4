#include "update/install/apply_run.h"

#include "update/files/replace_whole_file.h"
#include "update/format/entry_group.h"
#include "update/install/commit.h"
#include "update/install/extract_entry.h"
#include "update/install/install_described.h"
#include "update/install/remove_described.h"
#include "update/install/run_work_dir.h"
#include "update/install/staging.h"
#include "update/session/progress_report.h"

namespace {

const char kTextInstallFailed[] = "拷贝文件错误 %s %s %d";

// One entry of the run, and what it needs around it.
struct RunEntry {
  OwnFileSource& source;
  const PayloadEntry& entry;
  const EntryDetail& detail;
  uint32_t ordinal;
  uint32_t entryCount;
  const RunWorkDir& workDir;
};

// Copies (or decodes) the entry into the run's folder, with its extraction
// reports.
bool Extract(const RunEntry& run, char (&extractionPath)[UPDATE_PATH_SIZE], RunFailure& failure) {
  ReportProgress(PG_EXTRACT_BEGIN, run.ordinal, run.entryCount);
  if (run.detail.HasDescriptor()) {
    DecodePackage(run.source, run.entry, run.detail, run.ordinal, run.workDir.Path(),
                  extractionPath, failure);
  } else {
    ExtractEntry(run.source, run.entry, run.ordinal, run.workDir.Path(), extractionPath, failure);
  }
  if (failure.Failed()) return false;
  ReportProgress(PG_EXTRACT_END, run.ordinal, run.entryCount);
  return true;
}

void SetInstallFailure(const RunEntry& run, const char* extractionPath, RunFailure& failure) {
  failure.Set(ERROR_FILE_CORRUPT, kTextInstallFailed, extractionPath, run.entry.name.c_str(),
              static_cast<int>(run.entryCount));
}

// A plain entry: extracted, then staged beside its file in the game directory.
void StagePlainEntry(const RunEntry& run, const char* target, Staging& staging,
                     RunFailure& failure) {
  char extractionPath[UPDATE_PATH_SIZE] = {};
  if (!Extract(run, extractionPath, failure)) return;
  ReportProgress(PG_INSTALL_BEGIN, run.ordinal, run.entryCount);
  const bool staged = staging.Stage(target) && StageWholeFile(extractionPath, target).Succeeded();
  // Staged or not, the extracted copy has served its purpose.
  run.workDir.RemoveEntry(extractionPath);
  if (!staged) {
    SetInstallFailure(run, extractionPath, failure);
    return;
  }
  ReportProgress(PG_INSTALL_END, run.ordinal, run.entryCount);
}

// A package: extracted, then handed to the game's launcher.
void InstallPackage(UpdateSession& session, const RunEntry& run, RunFailure& failure) {
  char extractionPath[UPDATE_PATH_SIZE] = {};
  if (!Extract(run, extractionPath, failure)) return;
  const bool installed =
      session.InstallExtracted(extractionPath, true, run.ordinal, run.entryCount) != 0;
  run.workDir.RemoveEntry(extractionPath);
  if (!installed) SetInstallFailure(run, extractionPath, failure);
}

// Every file of the game the patch writes, staged in payload order.
void StageFiles(OwnFileSource& source, const PatchContents& patch, const RunPlan& plan,
                const RunWorkDir& workDir, Staging& staging, RunFailure& failure) {
  const std::vector<PayloadEntry>& entries = patch.table.entries;
  const uint32_t entryCount = patch.trailer.entryCount;
  for (uint32_t index = 0; !failure.Failed() && index < entries.size(); ++index) {
    const EntryDetail& detail = patch.details[index];
    switch (InstallKindOf(entries[index], detail)) {
      case EntryKind::PlainFile:
        if (!detail.HasDescriptor()) {
          const RunEntry run{source, entries[index], detail, index + 1, entryCount, workDir};
          StagePlainEntry(run, plan.targets[index].path, staging, failure);
          break;
        }
        [[fallthrough]];
      case EntryKind::PathFile: {
        // A file's way is taken from the entry that starts it; the entries
        // of a file that its way passes by report nothing.
        const PlannedEntry& planned = plan.install.entries[index];
        if (planned.startsWay || planned.action == InstallAction::Same) {
          StageFile(source, patch, plan, index, entryCount, staging, failure);
        }
        break;
      }
      case EntryKind::Package:
      case EntryKind::Removal:
      case EntryKind::BuildList:
        break;
    }
  }
}

void InstallPackages(UpdateSession& session, OwnFileSource& source, const PatchContents& patch,
                     const RunWorkDir& workDir, RunFailure& failure) {
  const std::vector<PayloadEntry>& entries = patch.table.entries;
  for (uint32_t index = 0; !failure.Failed() && index < entries.size(); ++index) {
    if (InstallKindOf(entries[index], patch.details[index]) != EntryKind::Package) continue;
    const RunEntry run{source,    entries[index],           patch.details[index],
                       index + 1, patch.trailer.entryCount, workDir};
    InstallPackage(session, run, failure);
  }
}

}  // namespace

void ApplyRun(UpdateSession& session, OwnFileSource& source, const PatchContents& patch,
              const RunPlan& plan, RunFailure& failure) {
  if (patch.table.entries.empty()) return;
  RunWorkDir workDir;
  if (!workDir.Create(failure)) return;
  Staging staging(session.gameDir, session.ownFileDigest.hex, session.targetVersion);
  StageFiles(source, patch, plan, workDir, staging, failure);
  if (!failure.Failed()) {
    StageRemovals(patch.details, plan.targets, patch.trailer.entryCount, staging, failure);
  }
  if (!failure.Failed()) InstallPackages(session, source, patch, workDir, failure);
  if (failure.Failed()) {
    staging.Discard();
    return;
  }
  if (CommitRun(session.gameDir, staging.Journal(), failure)) {
    FinishCommit(session.gameDir, staging.Journal());
  }
}
