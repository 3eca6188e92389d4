#include "update/install/remove_described.h"

#include <windows.h>

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
    // A file marked read-only or hidden is not the run's to remove, as it
    // is not the run's to replace (and mkpatch check says so beforehand).
    const DWORD attributes = GetFileAttributesA(path);
    const bool gone = attributes == INVALID_FILE_ATTRIBUTES;
    if (old && !gone && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)) != 0) {
      SetRemoveFailure(failure, path, ERROR_ACCESS_DENIED);
      return;
    }
    // Another file, changed by the player, is left as it is. A file already
    // gone is still a step: the commit takes the folders it left empty.
    if ((old || gone) && !staging.Remove(path)) {
      SetRemoveFailure(failure, path, ERROR_FILENAME_EXCED_RANGE);
      return;
    }
    ReportProgress(PG_INSTALL_END, index + 1, entryCount);
  }
}
