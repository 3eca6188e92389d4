#include "update/install/remove_described.h"

#include "update/session/file_failure.h"
#include "update/session/installed_file.h"
#include "update/session/progress_report.h"

void StageRemovals(const std::vector<EntryDetail>& details, const std::vector<EntryTarget>& targets,
                   uint32_t entryCount, Staging& staging, RunFailure& failure) {
  for (uint32_t index = 0; index < details.size(); ++index) {
    const EntryDetail& detail = details[index];
    if (!detail.HasDescriptor() || detail.descriptor.kind != EntryKind::Removal) continue;
    ReportProgress(PG_INSTALL_BEGIN, index + 1, entryCount);
    const char* path = targets[index].path;
    bool old = false;
    const SystemResult read =
        FileHolds(path, detail.descriptor.sourceSize, detail.descriptor.sourceMd5, &old);
    if (!read) {
      SetReadFailure(failure, path, read.Error());
      return;
    }
    // Another file, changed by the player, or nothing at all: left as it is.
    if (old && !staging.Remove(path)) {
      SetRemoveFailure(failure, path, ERROR_FILENAME_EXCED_RANGE);
      return;
    }
    ReportProgress(PG_INSTALL_END, index + 1, entryCount);
  }
}
