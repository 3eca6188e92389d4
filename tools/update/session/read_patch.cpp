#include "update/session/read_patch.h"

#include <windows.h>

#include <cstring>

#include "update/base/bounded_format.h"
#include "update/format/entry_group.h"
#include "update/format/payload_digest.h"
#include "update/format/version_gate.h"
#include "update/session/host_hooks.h"

const char DESCRIPTOR_BAD_TEXT[] = "错误的文件描述:参数 %d %d";

namespace {

const char kTextFileTooShort[] = "错误的文件长度:参数 %d %d %d";
const char kTextTrailerShort[] = "错误的文件头:参数 %d %d";
const char kTextTrailerBad[] = "错误文件长度: %d %d %d";
const char kTextHeaderShort[] = "错误5 %d %d";
const char kTextEntryCount[] = "错误的文件数:参数 %d %d";
const char kTextEntryName[] = "错误的文件名:参数 %d";
const char kTextEntryData[] = "错误的文件数据:参数 %d %d %d";
const char kTextDigestWrong[] = "错误的文件校验:参数 %d %d";

// Texts print 32-bit quantities as signed decimals.
int AsInt(uint64_t value) { return static_cast<int>(static_cast<uint32_t>(value)); }

// The installed version from the game's configuration; empty when there is
// none, which the gate refuses.
void ReadInstalledVersion(const char* gameDir, char (&version)[UPDATE_PATH_SIZE]) {
  char configPath[UPDATE_PATH_SIZE];
  if (!FormatFitted(configPath, sizeof configPath, "%s%s", gameDir, GAME_CLIENT_INI_PATH)) return;
  GetPrivateProfileStringA(VERSION_SECTION, VERSION_KEY, "", version, UPDATE_PATH_SIZE, configPath);
}

bool OpenOwnFile(OwnFileSource& source, RunFailure& failure) {
  char ownPath[UPDATE_PATH_SIZE] = {};
  const uint32_t ownPathLength = GetOwnPath(ownPath, UPDATE_PATH_SIZE);
  // A cut path would name some other file.
  if (ownPathLength == 0 || ownPathLength >= UPDATE_PATH_SIZE) {
    failure.Set(ERROR_FILE_INVALID);
    return false;
  }
  const SystemResult opened = source.Open(ownPath);
  if (!opened) failure.Set(opened.Error());
  return opened.Succeeded();
}

bool ReadOwnTrailer(OwnFileSource& source, PatchTrailer* trailer, RunFailure& failure) {
  const uint64_t fileSize = source.Size();
  if (fileSize < PATCH_TRAILER_SIZE) {
    failure.Set(ERROR_FILE_CORRUPT, kTextFileTooShort, AsInt(fileSize),
                AsInt(fileSize) - static_cast<int>(PATCH_TRAILER_SIZE),
                static_cast<int>(PATCH_TRAILER_SIZE));
    return false;
  }
  uint32_t bytesRead = 0;
  if (!ReadTrailer(source, trailer, &bytesRead)) {
    failure.Set(ERROR_FILE_CORRUPT, kTextTrailerShort, static_cast<int>(bytesRead),
                static_cast<int>(PATCH_TRAILER_SIZE));
    return false;
  }
  return true;
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

// Turns a refused reading of the entries' details into the run's failure,
// before anything is written: damaged like a bad entry table. The text gives
// the entry and the reason: the descriptor's error (1 and up), 0 for a
// marking of an unknown format, -1 for bytes that could not be read.
void SetDetailsFailure(const EntryDetails& read, RunFailure& failure) {
  int reason = 0;
  switch (read.error) {
    case EntryDetailError::None:
      return;
    case EntryDetailError::UnknownFormat:
      reason = 0;
      break;
    case EntryDetailError::Unreadable:
      reason = -1;
      break;
    case EntryDetailError::BadDescriptor:
      reason = static_cast<int>(read.descriptorError);
      break;
  }
  failure.Set(ERROR_FILE_CORRUPT, DESCRIPTOR_BAD_TEXT, static_cast<int>(read.failedEntry + 1),
              reason);
}

}  // namespace

std::string DigestOwnFile(ByteSource& payload, ByteSource& whole, const PatchTrailer& trailer,
                          RunFailure& failure) {
  const uint64_t begin = trailer.firstEntryOffset;
  const uint64_t end = DigestRegionEnd(trailer);
  unsigned char digest[PAYLOAD_DIGEST_SIZE];
  unsigned char wholeDigest[PAYLOAD_DIGEST_SIZE];
  uint64_t digested = 0;
  bool wholeRead = false;
  const bool regionRead =
      DigestRegionAndFile(payload, whole, begin, end, digest, &digested, wholeDigest, &wholeRead);
  const PayloadDigestRecord record = ParseDigestRecord(trailer);
  if (record.kind == DigestRecordKind::Present &&
      (!regionRead || std::memcmp(digest, record.digest, PAYLOAD_DIGEST_SIZE) != 0)) {
    failure.Set(ERROR_FILE_CORRUPT, kTextDigestWrong, AsInt(digested),
                AsInt(end > begin ? end - begin : 0));
  }
  if (!wholeRead) {
    // The whole file's MD5 names this patch's commit in the journal, which
    // the next run reads back to finish or undo it: without one, a commit
    // cut short could be finished by no updater. A file that cannot be read
    // to its end is refused as one that cannot be opened.
    if (!failure.Failed()) failure.Set(ERROR_READ_FAULT);
    return std::string();
  }
  return DigestHex(wholeDigest);
}

bool ReadPatch(UpdateSession& session, OwnFileSource& source, PatchContents* patch,
               RunChecks& checks, RunFailure& failure) {
  if (!OpenOwnFile(source, failure) || !ReadOwnTrailer(source, &patch->trailer, failure)) {
    return false;
  }
  const PatchTrailer& trailer = patch->trailer;
  // Taken before the trailer is validated: the fields then hold whatever the
  // last bytes of the file held.
  session.baseVersion = FieldText(trailer.baseVersion, PATCH_VERSION_FIELD_SIZE);
  session.targetVersion = FieldText(trailer.targetVersion, PATCH_VERSION_FIELD_SIZE);

  char installed[UPDATE_PATH_SIZE] = {};
  ReadInstalledVersion(session.gameDir, installed);
  if (!session.CheckVersion(installed)) {
    failure.Set(ERROR_FILE_CORRUPT);
    checks.versionOk = false;
  }
  // The trailer is tested whatever the gate found, so a broken file is
  // reported even to a user whose version was refused.
  if (!IsTrailerSound(trailer, source.Size())) {
    failure.Set(ERROR_FILE_CORRUPT, kTextTrailerBad, static_cast<int>(trailer.totalFileSize),
                AsInt(source.Size()), static_cast<int>(trailer.magic));
  }
  if (failure.Failed()) return false;

  // Every header, name and data range is checked before the first byte is
  // written, so a bad payload leaves the game and the temporary directory alone.
  patch->table = ReadPayloadTable(source, trailer);
  SetTableFailure(patch->table, trailer, source.Size(), failure);
  if (failure.Failed()) return false;
  session.ownFileDigest = StampedDigest();
  session.ownFileDigest.hex = DigestOwnFile(source, source.WholeFile(), trailer, failure);
  if (failure.Failed()) return false;
  session.ownFileDigest.stamp = source.Stamp();
  EntryDetails read = ReadEntryDetails(source, patch->table.entries);
  SetDetailsFailure(read, failure);
  if (failure.Failed()) return false;
  patch->details = std::move(read.details);
  // Several entries of one file must lead to one file, as the updater
  // chooses among them.
  const uint32_t broken = FindBrokenGroup(patch->table.entries, patch->details,
                                          GroupEntries(patch->table.entries, patch->details));
  if (broken != NO_ENTRY) {
    failure.Set(ERROR_FILE_CORRUPT, DESCRIPTOR_BAD_TEXT, static_cast<int>(broken + 1),
                static_cast<int>(DescriptorError::BrokenGroup));
  }
  return !failure.Failed();
}
