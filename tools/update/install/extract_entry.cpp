#include "update/install/extract_entry.h"

#include <cstring>

#include "update/base/bounded_format.h"
#include "update/files/create_parent_dirs.h"
#include "update/files/file_retry.h"
#include "update/files/win32_handle.h"
#include "update/session/progress_report.h"

namespace {

const char kTextReadFailed[] = "读取源文件错误%d %d";
const char kTextPathTooLong[] = "错误的文件路径:参数 %d %d";

void CopyData(OwnFileSource& source, const PayloadEntry& entry, HANDLE target,
              RunFailure& failure) {
  unsigned char buffer[EXTRACT_CHUNK_SIZE];
  uint32_t remaining = entry.size;
  if (remaining != 0 && !source.Seek(entry.dataOffset)) {
    uint32_t chunk = remaining < EXTRACT_CHUNK_SIZE ? remaining : EXTRACT_CHUNK_SIZE;
    failure.Set(ERROR_FILE_CORRUPT, kTextReadFailed, static_cast<int>(chunk), 0);
    return;
  }
  while (remaining != 0) {
    uint32_t chunk = remaining < EXTRACT_CHUNK_SIZE ? remaining : EXTRACT_CHUNK_SIZE;
    DWORD got = 0;
    // The table promised these bytes; fewer means the file changed or the
    // disk failed, and a silently short file must not be installed.
    if (!ReadFile(source.Handle(), buffer, chunk, &got, nullptr) || got != chunk) {
      failure.Set(ERROR_FILE_CORRUPT, kTextReadFailed, static_cast<int>(chunk),
                  static_cast<int>(got));
      return;
    }
    remaining -= got;
    DWORD written = 0;
    if (!WriteFile(target, buffer, got, &written, nullptr)) written = 0;
    if (written != got) {
      failure.Set(ERROR_HANDLE_DISK_FULL);
      return;
    }
    ReportProgress(PG_EXTRACT_BYTES, remaining, entry.size);
  }
}

}  // namespace

UniqueHandle CreateExtractionFile(const PayloadEntry& entry, uint32_t ordinal, const char* workDir,
                                  char (&extractionPath)[UPDATE_PATH_SIZE], RunFailure& failure) {
  if (!FormatFitted(extractionPath, UPDATE_PATH_SIZE, "%s\\%s", workDir, entry.name.c_str())) {
    const size_t needed = std::strlen(workDir) + 1 + entry.name.size();
    failure.Set(ERROR_FILE_CORRUPT, kTextPathTooLong, static_cast<int>(ordinal),
                static_cast<int>(needed));
    return UniqueHandle();
  }
  CreateParentDirs(extractionPath);

  UniqueHandle target;
  const SystemResult created = RetryingCreateFile(extractionPath, GENERIC_READ | GENERIC_WRITE,
                                                  FILE_SHARE_READ, CREATE_ALWAYS, 0, &target);
  if (!created) failure.Set(created.Error());
  return target;
}

void ExtractEntry(OwnFileSource& source, const PayloadEntry& entry, uint32_t ordinal,
                  const char* workDir, char (&extractionPath)[UPDATE_PATH_SIZE],
                  RunFailure& failure) {
  UniqueHandle target = CreateExtractionFile(entry, ordinal, workDir, extractionPath, failure);
  if (!target.IsValid()) return;
  CopyData(source, entry, target.Get(), failure);
  if (!target.Close() && !failure.Failed()) failure.Set(ERROR_HANDLE_DISK_FULL);
}
