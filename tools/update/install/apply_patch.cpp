// One update run: the trailer, the version gate, the whole entry table and
// every described entry checked before the first write, then each entry
// extracted (or decoded) and installed in payload order, and the removals.
#include <windows.h>

#include <cstring>

#include "update/base/bounded_format.h"
#include "update/format/payload_digest.h"
#include "update/format/payload_table.h"
#include "update/format/run_entries.h"
#include "update/format/version_gate.h"
#include "update/install/extract_entry.h"
#include "update/install/install_described.h"
#include "update/install/remove_described.h"
#include "update/install/run_work_dir.h"
#include "update/log/logger.h"
#include "update/session/described_plan.h"
#include "update/session/free_space_check.h"
#include "update/session/host_hooks.h"
#include "update/session/own_file_source.h"
#include "update/session/progress_report.h"
#include "update/session/run_failure.h"
#include "update/session/update_session.h"

namespace {

const char kTextFileTooShort[] = "错误的文件长度:参数 %d %d %d";
const char kTextTrailerShort[] = "错误的文件头:参数 %d %d";
const char kTextVersionRefused[] = "更新版本号不对,请重新下载!";
const char kTextTrailerBad[] = "错误文件长度: %d %d %d";
const char kTextHeaderShort[] = "错误5 %d %d";
const char kTextEntryCount[] = "错误的文件数:参数 %d %d";
const char kTextEntryName[] = "错误的文件名:参数 %d";
const char kTextEntryData[] = "错误的文件数据:参数 %d %d %d";
const char kTextDigestWrong[] = "错误的文件校验:参数 %d %d";
const char kTextDescriptorBad[] = "错误的文件描述:参数 %d %d";
const char kTextInstallFailed[] = "拷贝文件错误 %s %s %d";
const char kConfigFile[] = "/Config/Client.ini";

// Texts print 32-bit quantities as signed decimals.
int AsInt(uint64_t value) { return static_cast<int>(static_cast<uint32_t>(value)); }

// The installed version from the game's configuration; empty when there is
// none, which the gate refuses.
void ReadInstalledVersion(const char* gameDir, char (&version)[UPDATE_PATH_SIZE]) {
  char configPath[UPDATE_PATH_SIZE];
  if (!FormatFitted(configPath, sizeof configPath, "%s%s", gameDir, kConfigFile)) return;
  GetPrivateProfileStringA("Version", "GameVersion", "", version, UPDATE_PATH_SIZE, configPath);
}

// Turns a refused entry table into the run's failure, before anything is written.
void SetTableFailure(const PayloadTable& table, const PatchTrailer& trailer, uint64_t fileSize,
                     RunFailure& failure) {
  const int ordinal = static_cast<int>(table.failedEntry + 1);
  switch (table.error) {
    case PayloadError::None:
      return;
    case PayloadError::HeaderUnreadable:
      failure.Set(ERROR_FILE_CORRUPT, kTextHeaderShort, static_cast<int>(table.bytesRead),
                  static_cast<int>(PATCH_ENTRY_HEADER_SIZE));
      return;
    case PayloadError::NameNotTerminated:
    case PayloadError::UnsafeName:
      failure.Set(ERROR_FILE_CORRUPT, kTextEntryName, ordinal);
      return;
    case PayloadError::DataPastEnd:
    case PayloadError::OverlapsTrailer:
      // The entry at fault was not added to the table; its header follows the last one.
      failure.Set(ERROR_FILE_CORRUPT, kTextEntryData, ordinal, AsInt(table.entriesEnd),
                  AsInt(fileSize));
      return;
    case PayloadError::FileTooShort:
    case PayloadError::TrailerUnreadable:
    case PayloadError::EntryCountImpossible:
      failure.Set(ERROR_FILE_CORRUPT, kTextEntryCount, static_cast<int>(trailer.entryCount),
                  static_cast<int>(trailer.firstEntryOffset));
      return;
  }
}

// One read of the updater's own file for both of its digests. A payload
// whose trailer carries a digest must hash to it whole before anything is
// extracted: a damaged download is refused, not installed. The text gives the
// bytes hashed and the region's length (equal unless the file ended early).
// The whole file's digest, taken with or without a record, is returned for
// the version record, with the stamp of the file it came from.
StampedDigest DigestOwnFile(OwnFileSource& source, const PatchTrailer& trailer,
                            RunFailure& failure) {
  const uint64_t begin = trailer.firstEntryOffset;
  const uint64_t end = DigestRegionEnd(trailer);
  unsigned char digest[PAYLOAD_DIGEST_SIZE];
  unsigned char whole[PAYLOAD_DIGEST_SIZE];
  uint64_t digested = 0;
  bool wholeRead = false;
  const bool regionRead = DigestRegionAndFile(source, source.WholeFile(), begin, end, digest,
                                              &digested, whole, &wholeRead);
  const PayloadDigestRecord record = ParseDigestRecord(trailer);
  if (record.kind == DigestRecordKind::Present &&
      (!regionRead || std::memcmp(digest, record.digest, PAYLOAD_DIGEST_SIZE) != 0)) {
    failure.Set(ERROR_FILE_CORRUPT, kTextDigestWrong, AsInt(digested),
                AsInt(end > begin ? end - begin : 0));
  }
  StampedDigest kept;
  if (wholeRead) {
    kept.hex = DigestHex(whole);
    kept.stamp = source.Stamp();
  }
  return kept;
}

// Turns a refused reading of the described entries into the run's failure,
// before anything is written: damaged like a bad entry table. The text gives
// the entry and the reason: the descriptor's error (1 and up), 0 for a
// marking of an unknown format, -1 for bytes that could not be read.
void SetRunEntriesFailure(const RunEntries& entries, RunFailure& failure) {
  int reason = 0;
  switch (entries.error) {
    case RunEntryError::None:
      return;
    case RunEntryError::UnknownFormat:
      reason = 0;
      break;
    case RunEntryError::Unreadable:
      reason = -1;
      break;
    case RunEntryError::BadDescriptor:
      reason = static_cast<int>(entries.descriptorError);
      break;
  }
  failure.Set(ERROR_FILE_CORRUPT, kTextDescriptorBad, static_cast<int>(entries.failedEntry + 1),
              reason);
}

}  // namespace

int UpdateSession::CheckVersion(const char* installedVersion) {
  return IsVersionInRange(installedVersion, baseVersion.c_str(), targetVersion.c_str()) ? 1 : 0;
}

int UpdateSession::ApplyPatch(bool& versionOk) {
  bool spaceOk = true;
  return ApplyPatch(versionOk, spaceOk);
}

int UpdateSession::ApplyPatch(bool& versionOk, bool& spaceOk) {
  RunChecks checks;
  const int applied = ApplyPatch(checks);
  versionOk = checks.versionOk;
  spaceOk = checks.spaceOk;
  return applied;
}

int UpdateSession::ApplyPatch(RunChecks& checks) {
  ownFileDigest = StampedDigest();
  RunFailure failure;
  char ownPath[UPDATE_PATH_SIZE] = {};
  uint32_t ownPathLength = GetOwnPath(ownPath, UPDATE_PATH_SIZE);
  // A cut path would name some other file.
  if (ownPathLength == 0 || ownPathLength >= UPDATE_PATH_SIZE) failure.Set(ERROR_FILE_INVALID);

  OwnFileSource source;
  if (!failure.Failed() && !source.Open(ownPath)) failure.Set(source.OpenError());

  PatchTrailer trailer = {};
  bool trailerRead = false;
  if (!failure.Failed()) {
    const uint64_t fileSize = source.Size();
    if (fileSize < PATCH_TRAILER_SIZE) {
      failure.Set(ERROR_FILE_CORRUPT, kTextFileTooShort, AsInt(fileSize),
                  AsInt(fileSize) - static_cast<int>(PATCH_TRAILER_SIZE),
                  static_cast<int>(PATCH_TRAILER_SIZE));
    } else {
      uint32_t bytesRead = 0;
      trailerRead = ReadTrailer(source, &trailer, &bytesRead);
      if (!trailerRead) {
        failure.Set(ERROR_FILE_CORRUPT, kTextTrailerShort, static_cast<int>(bytesRead),
                    static_cast<int>(PATCH_TRAILER_SIZE));
      }
    }
  }

  if (trailerRead) {
    // Taken before the trailer is validated: the fields then hold whatever the
    // last bytes of the file held.
    baseVersion = FieldText(trailer.baseVersion, PATCH_VERSION_FIELD_SIZE);
    targetVersion = FieldText(trailer.targetVersion, PATCH_VERSION_FIELD_SIZE);

    char installed[UPDATE_PATH_SIZE] = {};
    ReadInstalledVersion(gameDir, installed);
    if (!CheckVersion(installed)) {
      failure.Set(ERROR_FILE_CORRUPT);
      checks.versionOk = false;
      if (!autoMode) ShowWarning(kTextVersionRefused);
    }
    // The trailer is tested whatever the gate found, so a broken file is
    // reported even to a user whose version was refused.
    if (!IsTrailerSound(trailer, source.Size())) {
      failure.Set(ERROR_FILE_CORRUPT, kTextTrailerBad, static_cast<int>(trailer.totalFileSize),
                  AsInt(source.Size()), static_cast<int>(trailer.magic));
    }
  }

  PayloadTable table;
  if (!failure.Failed()) {
    // Every header, name and data range is checked before the first byte is
    // written, so a bad payload leaves the game and the temporary directory alone.
    table = ReadPayloadTable(source, trailer);
    SetTableFailure(table, trailer, source.Size(), failure);
  }
  if (!failure.Failed()) ownFileDigest = DigestOwnFile(source, trailer, failure);
  RunEntries described;
  if (!failure.Failed()) {
    described = ReadRunEntries(source, table.entries);
    SetRunEntriesFailure(described, failure);
  }
  std::vector<EntryTarget> targets;
  if (!failure.Failed()) {
    PlanDescribedEntries(gameDir, table.entries, described.entries, &targets, failure,
                         &checks.sourcesOk);
  }
  // Still before the first write: a disk too small is refused, not filled.
  if (!failure.Failed() &&
      !CheckFreeSpace(SpaceOfEntries(table.entries, described.entries, targets), gameDir,
                      failure)) {
    checks.spaceOk = false;
  }

  RunWorkDir workDir;
  if (!failure.Failed() && !table.entries.empty()) workDir.Create(failure);
  for (uint32_t index = 0; !failure.Failed() && index < table.entries.size(); ++index) {
    const PayloadEntry& entry = table.entries[index];
    const RunEntry& run = described.entries[index];
    const uint32_t ordinal = index + 1;
    const EntryKind kind = run.descriptor.kind;
    // Removals come once every file is in; packages go the plain way below.
    if (run.described && kind == EntryKind::Removal) continue;
    if (run.described && kind != EntryKind::Package) {
      InstallDescribedFile(source, run, targets[index], ordinal, trailer.entryCount, failure);
      continue;
    }
    ReportProgress(PG_EXTRACT_BEGIN, ordinal, trailer.entryCount);
    char extractionPath[UPDATE_PATH_SIZE] = {};
    if (run.described) {
      DecodePackage(source, entry, run, ordinal, workDir.Path(), extractionPath, failure);
    } else {
      ExtractEntry(source, entry, ordinal, workDir.Path(), extractionPath, failure);
    }
    if (failure.Failed()) break;
    ReportProgress(PG_EXTRACT_END, ordinal, trailer.entryCount);
    // A described entry's kind says how it is installed, a plain one's name.
    const bool installed =
        (run.described
             ? InstallExtracted(extractionPath, true, ordinal, trailer.entryCount)
             : InstallEntry(extractionPath, entry.name.c_str(), ordinal, trailer.entryCount)) != 0;
    // Installed or not, the extracted copy has served its purpose.
    workDir.RemoveEntry(extractionPath);
    if (!installed) {
      failure.Set(ERROR_FILE_CORRUPT, kTextInstallFailed, extractionPath, entry.name.c_str(),
                  static_cast<int>(trailer.entryCount));
    }
  }
  if (!failure.Failed()) {
    RemoveDescribedFiles(gameDir, described.entries, targets, trailer.entryCount, failure);
  }

  // Both before the box: the user may keep it open for a long time.
  workDir.Remove();
  source.Close();
  if (failure.text[0] != '\0') {
    ShowWarning(failure.text);
    g_Log.Info("%s", failure.text);
  }
  return failure.Failed() ? 0 : 1;
}
