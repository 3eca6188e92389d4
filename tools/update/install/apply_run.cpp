#include "update/install/apply_run.h"

#include "update/format/entry_group.h"
#include "update/install/extract_entry.h"
#include "update/install/install_described.h"
#include "update/install/remove_described.h"
#include "update/install/run_work_dir.h"
#include "update/session/progress_report.h"

namespace {

const char kTextInstallFailed[] = "拷贝文件错误 %s %s %d";

// An entry copied or decoded into the run's folder first: a plain entry, or
// a described package. Installed by its name (a plain entry) or its kind.
void ExtractAndInstall(UpdateSession& session, OwnFileSource& source, const PayloadEntry& entry,
                       const EntryDetail& detail, uint32_t ordinal, uint32_t entryCount,
                       const RunWorkDir& workDir, RunFailure& failure) {
  ReportProgress(PG_EXTRACT_BEGIN, ordinal, entryCount);
  char extractionPath[UPDATE_PATH_SIZE] = {};
  if (detail.HasDescriptor()) {
    DecodePackage(source, entry, detail, ordinal, workDir.Path(), extractionPath, failure);
  } else {
    ExtractEntry(source, entry, ordinal, workDir.Path(), extractionPath, failure);
  }
  if (failure.Failed()) return;
  ReportProgress(PG_EXTRACT_END, ordinal, entryCount);
  const bool installed =
      (detail.HasDescriptor()
           ? session.InstallExtracted(extractionPath, true, ordinal, entryCount)
           : session.InstallEntry(extractionPath, entry.name.c_str(), ordinal, entryCount)) != 0;
  // Installed or not, the extracted copy has served its purpose.
  workDir.RemoveEntry(extractionPath);
  if (!installed) {
    failure.Set(ERROR_FILE_CORRUPT, kTextInstallFailed, extractionPath, entry.name.c_str(),
                static_cast<int>(entryCount));
  }
}

}  // namespace

void ApplyRun(UpdateSession& session, OwnFileSource& source, const PatchContents& patch,
              const RunPlan& plan, RunFailure& failure) {
  const std::vector<PayloadEntry>& entries = patch.table.entries;
  const uint32_t entryCount = patch.trailer.entryCount;
  RunWorkDir workDir;
  if (!entries.empty() && !workDir.Create(failure)) return;
  for (uint32_t index = 0; !failure.Failed() && index < entries.size(); ++index) {
    const EntryDetail& detail = patch.details[index];
    const EntryKind kind = InstallKindOf(entries[index], detail);
    // Removals come once every file is in.
    if (kind == EntryKind::Removal) continue;
    if (kind == EntryKind::BuildList) continue;
    if (detail.HasDescriptor() && kind != EntryKind::Package) {
      // A file's way is taken from the entry that starts it; the entries of
      // a file that its way passes by report nothing.
      const PlannedEntry& planned = plan.install.entries[index];
      if (planned.startsWay || planned.action == InstallAction::Same) {
        InstallFile(source, patch, plan, index, entryCount, failure);
      }
    } else {
      ExtractAndInstall(session, source, entries[index], detail, index + 1, entryCount, workDir,
                        failure);
    }
  }
  if (!failure.Failed()) {
    RemoveDescribedFiles(session.gameDir, patch.details, plan.targets, entryCount, failure);
  }
}
