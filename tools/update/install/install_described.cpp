#include "update/install/install_described.h"

#include "update/base/bounded_format.h"
#include "update/files/create_parent_dirs.h"
#include "update/files/file_retry.h"
#include "update/files/replace_whole_file.h"
#include "update/files/win32_handle.h"
#include "update/install/decode_entry.h"
#include "update/install/extract_entry.h"
#include "update/session/file_failure.h"
#include "update/session/installed_file.h"
#include "update/session/progress_report.h"

namespace {

// The two names a way's steps take turns in beside the target: as long as
// the replacement's, so that a path the run can write has room for them.
const char* const kStepSuffixes[2] = {".upd-st0", ".upd-st1"};

struct StepFiles {
  char path[2][MAX_PATH] = {};

  // Removes both: a step's result never outlives the way, nor one that a
  // killed run left.
  void Remove() const {
    for (const char* step : path) {
      if (step[0] != '\0') (void)RetryingDeleteFile(step);
    }
  }
};

bool NameSteps(const char* target, StepFiles* steps) {
  for (int k = 0; k < 2; ++k) {
    if (!FormatFitted(steps->path[k], MAX_PATH, "%s%s", target, kStepSuffixes[k])) return false;
  }
  return true;
}

// Decodes one entry of the way from `input` (null for a file written whole)
// into `outputPath`, which is on disk and closed when this returns true;
// otherwise `failure` is set and the output is gone.
bool DecodeStep(OwnFileSource& source, const PayloadEntry& entry, const EntryDetail& detail,
                const char* input, const char* outputPath, const char* targetPath,
                const WayProgress& progress, FileRetry& retry, RunFailure& failure) {
  CreateParentDirs(outputPath);
  UniqueHandle out;
  const SystemResult created = retry.Run([&] {
    out.Reset(CreateFileA(outputPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0,
                          nullptr));
    return out.IsValid();
  });
  if (!created) {
    SetWriteFailure(failure, outputPath, created.Error());
    return false;
  }
  InstalledFile installed;
  const SystemResult opened = input != nullptr ? installed.Open(input) : SystemResult::Ok();
  if (!opened) {
    SetReadFailure(failure, input, opened.Error());
  } else {
    const DecodedFile decoded = DecodeEntryToFile(
        source, entry, detail, input != nullptr ? &installed : nullptr, out.Get(), progress);
    // Closed before the rename: the target is replaced, not written.
    installed.Close();
    if (!decoded.Succeeded()) {
      SetDecodeFailure(decoded, targetPath, failure);
    } else if (!FlushFileBuffers(out.Get())) {
      SetWriteFailure(failure, outputPath, GetLastError());
    }
  }
  if (!out.Close() && !failure.Failed()) SetWriteFailure(failure, outputPath, GetLastError());
  if (!failure.Failed()) return true;
  (void)RetryingDeleteFile(outputPath);
  return false;
}

// Every entry of the way, the last one into the replacement copy.
bool DecodeWay(OwnFileSource& source, const PatchContents& patch, const RunPlan& plan,
               uint32_t start, const char* replacement, const StepFiles& steps, FileRetry& retry,
               RunFailure& failure) {
  WayProgress progress;
  for (uint32_t i = start; i != NO_ENTRY; i = plan.install.entries[i].next) {
    progress.total += DecodedSize(patch.table.entries[i], patch.details[i]);
  }
  const EntryTarget& target = plan.targets[start];
  const char* input =
      patch.details[start].descriptor.coding == EntryCoding::Delta ? target.source : nullptr;
  int turn = 0;
  for (uint32_t i = start; i != NO_ENTRY; i = plan.install.entries[i].next) {
    const bool last = plan.install.entries[i].next == NO_ENTRY;
    const char* output = last ? replacement : steps.path[turn];
    if (!DecodeStep(source, patch.table.entries[i], patch.details[i], input, output, target.path,
                    progress, retry, failure)) {
      return false;
    }
    // The step read before is done with.
    if (input != nullptr && input != target.source) (void)RetryingDeleteFile(input);
    progress.done += DecodedSize(patch.table.entries[i], patch.details[i]);
    input = output;
    turn ^= 1;
  }
  return true;
}

}  // namespace

void DecodePackage(OwnFileSource& source, const PayloadEntry& entry, const EntryDetail& detail,
                   uint32_t ordinal, const char* workDir, char (&extractionPath)[UPDATE_PATH_SIZE],
                   RunFailure& failure) {
  UniqueHandle out = CreateExtractionFile(entry, ordinal, workDir, extractionPath, failure);
  if (!out.IsValid()) return;
  WayProgress progress;
  progress.total = DecodedSize(entry, detail);
  const DecodedFile decoded =
      DecodeEntryToFile(source, entry, detail, nullptr, out.Get(), progress);
  const bool closed = out.Close();
  if (!decoded.Succeeded()) {
    SetDecodeFailure(decoded, extractionPath, failure);
  } else if (!closed) {
    SetWriteFailure(failure, extractionPath, ERROR_HANDLE_DISK_FULL);
  }
}

void StageFile(OwnFileSource& source, const PatchContents& patch, const RunPlan& plan,
               uint32_t start, uint32_t entryCount, Staging& staging, RunFailure& failure) {
  const EntryTarget& target = plan.targets[start];
  const uint32_t ordinal = start + 1;
  ReportProgress(PG_EXTRACT_BEGIN, ordinal, entryCount);
  if (!target.installed) {
    char replacement[MAX_PATH] = {};
    StepFiles steps;
    SystemResult prepared = ReplacementPath(target.path, replacement);
    if (prepared && !NameSteps(target.path, &steps)) {
      prepared = SystemResult::Failed(ERROR_FILENAME_EXCED_RANGE);
    }
    if (prepared) prepared = PrepareReplacement(target.path, replacement);
    if (prepared && !staging.Stage(target.path)) {
      prepared = SystemResult::Failed(ERROR_FILENAME_EXCED_RANGE);
    }
    if (!prepared) {
      SetWriteFailure(failure, target.path, prepared.Error());
      return;
    }
    // One budget for the file across its steps, as for a plain file.
    FileRetry retry(target.path, replacement);
    const bool decoded = DecodeWay(source, patch, plan, start, replacement, steps, retry, failure);
    steps.Remove();
    if (!decoded) return;
  }
  ReportProgress(PG_EXTRACT_END, ordinal, entryCount);
  ReportProgress(PG_INSTALL_BEGIN, ordinal, entryCount);
  ReportProgress(PG_INSTALL_END, ordinal, entryCount);
}
