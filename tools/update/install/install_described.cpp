#include "update/install/install_described.h"

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

// Decodes into the replacement copy, which is on disk and closed when this
// returns true; otherwise `failure` is set and the copy is gone.
bool WriteReplacement(OwnFileSource& source, const PayloadEntry& entry, const EntryDetail& detail,
                      const EntryTarget& target, const char* replacement, FileRetry& retry,
                      RunFailure& failure) {
  CreateParentDirs(replacement);
  UniqueHandle out;
  const SystemResult created = retry.Run([&] {
    out.Reset(CreateFileA(replacement, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0,
                          nullptr));
    return out.IsValid();
  });
  if (!created) {
    SetWriteFailure(failure, replacement, created.Error());
    return false;
  }
  InstalledFile installed;
  const bool delta = detail.descriptor.coding == EntryCoding::Delta;
  const SystemResult opened = delta ? installed.Open(target.source) : SystemResult::Ok();
  if (!opened) {
    SetReadFailure(failure, target.source, opened.Error());
  } else {
    const DecodedFile decoded =
        DecodeEntryToFile(source, entry, detail, delta ? &installed : nullptr, out.Get());
    // Closed before the rename: the target is replaced, not written.
    installed.Close();
    if (!decoded.Succeeded()) {
      SetDecodeFailure(decoded, target.path, failure);
    } else if (!FlushFileBuffers(out.Get())) {
      SetWriteFailure(failure, replacement, GetLastError());
    }
  }
  if (!out.Close() && !failure.Failed()) SetWriteFailure(failure, replacement, GetLastError());
  if (!failure.Failed()) return true;
  (void)RetryingDeleteFile(replacement);
  return false;
}

}  // namespace

void DecodePackage(OwnFileSource& source, const PayloadEntry& entry, const EntryDetail& detail,
                   uint32_t ordinal, const char* workDir, char (&extractionPath)[UPDATE_PATH_SIZE],
                   RunFailure& failure) {
  UniqueHandle out = CreateExtractionFile(entry, ordinal, workDir, extractionPath, failure);
  if (!out.IsValid()) return;
  const DecodedFile decoded = DecodeEntryToFile(source, entry, detail, nullptr, out.Get());
  const bool closed = out.Close();
  if (!decoded.Succeeded()) {
    SetDecodeFailure(decoded, extractionPath, failure);
  } else if (!closed) {
    SetWriteFailure(failure, extractionPath, ERROR_HANDLE_DISK_FULL);
  }
}

void InstallDescribedFile(OwnFileSource& source, const PayloadEntry& entry,
                          const EntryDetail& detail, const EntryTarget& target, uint32_t ordinal,
                          uint32_t entryCount, RunFailure& failure) {
  ReportProgress(PG_EXTRACT_BEGIN, ordinal, entryCount);
  char replacement[MAX_PATH] = {};
  // One budget for the file across its steps, as for a plain file.
  FileRetry retry(target.path, replacement);
  if (!target.installed) {
    SystemResult prepared = ReplacementPath(target.path, replacement);
    if (prepared) prepared = PrepareReplacement(target.path, replacement);
    if (!prepared) {
      SetWriteFailure(failure, target.path, prepared.Error());
      return;
    }
    if (!WriteReplacement(source, entry, detail, target, replacement, retry, failure)) return;
  }
  ReportProgress(PG_EXTRACT_END, ordinal, entryCount);
  ReportProgress(PG_INSTALL_BEGIN, ordinal, entryCount);
  if (!target.installed) {
    const SystemResult moved = MoveReplacementIntoPlace(retry, replacement, target.path);
    if (!moved) {
      (void)RetryingDeleteFile(replacement);
      SetWriteFailure(failure, target.path, moved.Error());
      return;
    }
  }
  ReportProgress(PG_INSTALL_END, ordinal, entryCount);
}
