#include "update/install/remove_described.h"

#include <cstring>

#include "update/files/file_retry.h"
#include "update/files/remove_tree.h"
#include "update/session/file_failure.h"
#include "update/session/installed_file.h"
#include "update/session/progress_report.h"

namespace {

bool RemoveIfOld(const char* path, const EntryDescriptor& descriptor, RunFailure& failure) {
  bool old = false;
  const SystemResult read = FileHolds(path, descriptor.sourceSize, descriptor.sourceMd5, &old);
  if (!read) {
    SetReadFailure(failure, path, read.Error());
    return false;
  }
  // Another file, changed by the player, or nothing at all: left as it is.
  if (!old) return true;
  const SystemResult removed = RetryingDeleteFile(path);
  if (!removed) {
    SetRemoveFailure(failure, path, removed.Error());
    return false;
  }
  return true;
}

}  // namespace

void RemoveDescribedFiles(const char* gameDir, const std::vector<EntryDetail>& details,
                          const std::vector<EntryTarget>& targets, uint32_t entryCount,
                          RunFailure& failure) {
  for (uint32_t index = 0; index < details.size(); ++index) {
    const EntryDetail& detail = details[index];
    if (!detail.HasDescriptor() || detail.descriptor.kind != EntryKind::Removal) continue;
    ReportProgress(PG_INSTALL_BEGIN, index + 1, entryCount);
    const char* path = targets[index].path;
    if (!RemoveIfOld(path, detail.descriptor, failure)) return;
    // Also after a run that removed the file and was stopped before its folder.
    RemoveEmptyParents(path, std::strlen(gameDir));
    ReportProgress(PG_INSTALL_END, index + 1, entryCount);
  }
}
