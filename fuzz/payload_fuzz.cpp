// Feeds arbitrary files to the reader the updater runs on its own file before
// extracting anything (a signature added after the build cut off first), and
// to the checks it makes on names and versions, to its reading of the
// entries' descriptors, and to the planning of a run against a game. Aborts
// when an accepted table or descriptor breaks the promises extraction and
// installation rely on, or when the updater's plan and mkpatch check's part.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "input_game.h"
#include "update/base/gbk_text.h"
#include "update/format/entry_detail.h"
#include "update/format/entry_name.h"
#include "update/format/payload_digest.h"
#include "update/format/payload_table.h"
#include "update/format/signed_image.h"
#include "update/format/version_gate.h"
#include "update/plan/install_plan.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// Where the payload ends: never past the file, and short of the whole file
// only by a signature's table and at most 7 bytes of padding.
uint64_t CheckSignature(ByteSource& file) {
  const uint64_t size = file.Size();
  const PeSignature signature = ReadPeSignature(file);
  const uint64_t end = PayloadEnd(file, signature);
  const uint64_t imageEnd = UnsignedImageEnd(file, signature);
  if (!signature.isSigned) {
    Require(end == size && imageEnd == size);
    return end;
  }
  const uint64_t table = signature.tableOffset;
  Require(table + signature.tableSize == size && signature.tableSize >= 8);
  Require(end == size || (end <= table && end + SIGNATURE_MAX_PADDING >= table));
  Require(imageEnd <= table && imageEnd + SIGNATURE_MAX_PADDING >= table);
  return end;
}

// The digest record: found only right after the target version's NUL, never
// changing the version text, and written back exactly as it was read.
void CheckDigestRecord(ByteSource& source, const PatchTrailer& trailer) {
  const PayloadDigestRecord record = ParseDigestRecord(trailer);
  const std::string target = FieldText(trailer.targetVersion, PATCH_VERSION_FIELD_SIZE);
  if (record.kind == DigestRecordKind::Absent) return;
  Require(target.size() <= PAYLOAD_DIGEST_MAX_VERSION);
  if (record.kind != DigestRecordKind::Present) return;
  PatchTrailer rewritten = trailer;
  Require(WriteDigestRecord(&rewritten, record.digest));
  Require(FieldText(rewritten.targetVersion, PATCH_VERSION_FIELD_SIZE) == target);
  const PayloadDigestRecord again = ParseDigestRecord(rewritten);
  Require(again.kind == DigestRecordKind::Present &&
          std::memcmp(again.digest, record.digest, PAYLOAD_DIGEST_SIZE) == 0);
  unsigned char digest[PAYLOAD_DIGEST_SIZE];
  uint64_t digested = 0;
  const uint64_t end = DigestRegionEnd(trailer);
  if (DigestRegion(source, trailer.firstEntryOffset, end, digest, &digested)) {
    Require(digested == end - trailer.firstEntryOffset);
  } else {
    Require(trailer.firstEntryOffset > end || end > source.Size());
  }
}

// Described entries: the stored bytes lie inside the entry's data after a
// descriptor of at least its fixed size, and the kind's promises hold (a
// path exactly where one belongs, a safe one; stored bytes that are the file).
bool CheckEntryDetails(ByteSource& source, const std::vector<PayloadEntry>& table,
                       std::vector<EntryDetail>* details) {
  EntryDetails read = ReadEntryDetails(source, table);
  if (read.error != EntryDetailError::None) {
    Require(read.details.empty() && read.failedEntry < table.size());
    return false;
  }
  Require(read.details.size() == table.size());
  for (size_t i = 0; i < table.size(); ++i) {
    const EntryDetail& detail = read.details[i];
    if (!detail.HasDescriptor()) continue;
    const PayloadEntry& entry = table[i];
    const EntryDescriptor& d = detail.descriptor;
    const uint64_t storedBegin = StoredBegin(entry, detail);
    const uint64_t storedSize = StoredSize(entry, detail);
    Require(storedBegin >=
            entry.dataOffset + ENTRY_DESCRIPTOR_FIXED_SIZE + d.path.size() + d.sourcePath.size());
    Require(storedBegin + storedSize == entry.dataOffset + entry.size);
    const bool hasPath = d.kind == EntryKind::PathFile || d.kind == EntryKind::Removal;
    Require(hasPath == !d.path.empty() && d.path.size() <= ENTRY_PATH_MAX);
    if (hasPath) Require(IsSafeEntryName(d.path.c_str(), d.path.size() + 1));
    // Only a delta at a path may name a source elsewhere, and a safe one.
    if (!d.sourcePath.empty()) {
      Require(d.kind == EntryKind::PathFile && d.coding == EntryCoding::Delta);
      Require(IsSafeEntryName(d.sourcePath.c_str(), d.sourcePath.size() + 1));
    }
    if (d.coding == EntryCoding::Stored) Require(storedSize == d.decodedSize);
    if (d.kind == EntryKind::Removal) Require(storedSize == 0 && d.decodedSize == 0);
    if (d.coding == EntryCoding::Delta) Require(d.kind == EntryKind::PathFile);
  }
  *details = std::move(read.details);
  return true;
}

// Whatever the payload and the game, the updater's plan and mkpatch check's
// refuse alike, and every problem names an entry of the payload.
void CheckPlans(ByteSource& source, const std::vector<PayloadEntry>& table,
                const std::vector<EntryDetail>& details) {
  InputGame game(source);
  const InstallPlan updater = PlanInstall(source, table, details, game);
  const InstallPlan check = PredictInstall(source, table, details, game);
  Require(updater.entries.size() == table.size() && check.entries.size() == table.size());
  std::vector<PlanProblemKind> refused, predicted;
  for (const PlanProblem& problem : updater.problems) {
    Require(problem.entry < table.size() && IsRefusal(problem.kind));
    if (problem.kind == PlanProblemKind::WrongOrder) Require(problem.writer < problem.entry);
    refused.push_back(problem.kind);
  }
  for (const PlanProblem& problem : check.problems) {
    Require(problem.entry < table.size());
    if (IsRefusal(problem.kind)) predicted.push_back(problem.kind);
  }
  Require(refused == predicted);
}

void CheckTable(ByteSource& source) {
  const uint64_t size = source.Size();
  PatchTrailer trailer;
  uint32_t got = 0;
  if (!ReadTrailer(source, &trailer, &got)) {
    Require(size < PATCH_TRAILER_SIZE);
    return;
  }
  PayloadTable table = ReadPayloadTable(source, trailer);
  const uint64_t trailerOffset = size - PATCH_TRAILER_SIZE;
  uint64_t expected = trailer.firstEntryOffset;
  for (const PayloadEntry& entry : table.entries) {
    Require(entry.headerOffset == expected);
    Require(entry.dataOffset == entry.headerOffset + PATCH_ENTRY_HEADER_SIZE);
    Require(entry.dataOffset + entry.size <= trailerOffset);
    Require(!entry.name.empty() && entry.name.size() < PATCH_NAME_FIELD_SIZE);
    Require(entry.name == PATCH_TOPLEVEL_NAME ||
            IsSafeEntryName(entry.name.c_str(), entry.name.size() + 1));
    expected = entry.dataOffset + entry.size;
  }
  if (table.error == PayloadError::None) {
    Require(table.entries.size() == trailer.entryCount);
    std::vector<EntryDetail> details;
    if (CheckEntryDetails(source, table.entries, &details)) {
      CheckPlans(source, table.entries, details);
    }
  }
  std::string base = FieldText(trailer.baseVersion, PATCH_VERSION_FIELD_SIZE);
  std::string target = FieldText(trailer.targetVersion, PATCH_VERSION_FIELD_SIZE);
  uint32_t value = 0;
  ParseVersionValue(base.c_str(), &value);
  if (IsWellFormedVersion(base.c_str())) Require(ParseVersionValue(base.c_str(), &value));
  IsVersionInRange(base.c_str(), base.c_str(), target.c_str());
  CheckDigestRecord(source, trailer);
}

void CheckName(const uint8_t* data, size_t size) {
  char field[PATCH_NAME_FIELD_SIZE];
  size_t length = size < sizeof field ? size : sizeof field;
  std::memcpy(field, data, length);
  const char* problem = EntryNameProblem(field, length);
  Require(IsSafeEntryName(field, length) == (problem == nullptr));
  if (problem != nullptr) return;
  // A safe name never starts a path of its own or climbs out.
  std::string name(field);
  Require(name.empty() || (name[0] != '\\' && name[0] != '/'));
  Require(name.find(':') == std::string::npos);
  Require(name != ".." && name.compare(0, 3, "..\\") != 0 && name.compare(0, 3, "../") != 0);
  for (const char* p = name.c_str(); *p != '\0'; p = NextChar(p)) Require(NextChar(p) > p);
  const char* last = FindLastSeparator(name.c_str(), "\\/");
  Require(last == nullptr || (last >= name.c_str() && last < name.c_str() + name.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryByteSource file(data, size);
  BoundedPayloadSource payload(file, CheckSignature(file));
  CheckTable(payload);
  CheckName(data, size);
  return 0;
}
