#include "mkpatch/inspect/payload_check.h"

#include <algorithm>
#include <cstring>

#include "mkpatch/fs/name_encoding.h"
#include "mkpatch/inspect/name_clash.h"
#include "update/format/entry_group.h"
#include "update/format/version_gate.h"

namespace {

std::string Number(uint64_t value) { return std::to_string(value); }

std::string DetailProblem(EntryDetailError error, const EntryDetail& detail,
                          DescriptorError descriptorError) {
  switch (error) {
    case EntryDetailError::None:
      return "";
    case EntryDetailError::UnknownFormat:
      return "marked for descriptor format " + Number(detail.format) +
             ", which this mkpatch does not know";
    case EntryDetailError::Unreadable:
      return "header or descriptor could not be read";
    case EntryDetailError::BadDescriptor:
      return std::string("descriptor: ") + DescriptorErrorText(descriptorError);
  }
  return "unknown fault";
}

// Marking and descriptor of every entry; a descriptor the updater cannot use
// makes it refuse the file.
void ReadDetails(ByteSource& source, PayloadReport* report) {
  const std::vector<PayloadEntry>& entries = report->table.entries;
  report->details.resize(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    DescriptorError descriptorError = DescriptorError::None;
    const EntryDetailError error =
        ReadEntryDetail(source, entries[i], &report->details[i], &descriptorError);
    const std::string problem = DetailProblem(error, report->details[i], descriptorError);
    if (!problem.empty()) {
      report->structuralProblems.push_back("entry " + Number(i + 1) + " (" +
                                           GbkForDisplay(entries[i].name) + "): " + problem);
    }
  }
}

// Names that would land on one file: entries installed at a path are
// compared by their paths (their names are only the paths' last parts). The
// entries of one file's ways, and one file's removals, share their path
// (GroupEntries): each such path counts once.
void CheckClashes(const PayloadReport& report, std::vector<std::string>* problems) {
  std::vector<std::string> names, paths;
  std::vector<std::string> seen[2];  // folded paths of files written, of files removed
  for (size_t i = 0; i < report.table.entries.size(); ++i) {
    const EntryKind kind = InstallKindOf(report.table.entries[i], report.details[i]);
    if (kind == EntryKind::PathFile || kind == EntryKind::Removal) {
      const std::string& path = report.details[i].descriptor.path;
      std::vector<std::string>& known = seen[kind == EntryKind::Removal ? 1 : 0];
      const std::string folded = FoldEntryName(path);
      if (std::find(known.begin(), known.end(), folded) != known.end()) continue;
      known.push_back(folded);
      paths.push_back(path);
    } else {
      names.push_back(report.table.entries[i].name);
    }
  }
  for (const std::string& clash : FindNameClashes(names)) problems->push_back(clash);
  for (const std::string& clash : FindNameClashes(paths)) problems->push_back(clash);
}

// Several entries of one file must lead to one file, or the updater
// refuses the patch before it writes anything.
void CheckGroups(PayloadReport* report) {
  const std::vector<PayloadEntry>& entries = report->table.entries;
  const uint32_t broken =
      FindBrokenGroup(entries, report->details, GroupEntries(entries, report->details));
  if (broken == NO_ENTRY) return;
  report->structuralProblems.push_back(
      "entry " + Number(broken + 1) + " (" + GbkForDisplay(entries[broken].name) +
      "): descriptor: " + DescriptorErrorText(DescriptorError::BrokenGroup));
}

// A file's entries stand together, and a delta that reads another file's old
// bytes comes before that file's entries: the updater plans a file at its
// first entry and refuses a delta whose source an earlier entry writes.
void CheckOrder(const PayloadReport& report, std::vector<std::string>* problems) {
  const std::vector<PayloadEntry>& entries = report.table.entries;
  const EntryGroups groups = GroupEntries(entries, report.details);
  std::vector<std::string> written;  // folded paths of the files planned so far
  std::vector<uint32_t> writers;
  const auto shown = [&](uint32_t i) {
    return "entry " + Number(i + 1) + " (" + GbkForDisplay(entries[i].name) + ")";
  };
  for (uint32_t i = 0; i < entries.size(); ++i) {
    if (groups.first[i] == NO_ENTRY) continue;
    if (groups.first[i] != i) {
      if (groups.first[i - 1] != groups.first[i]) {
        problems->push_back(shown(i) + " stands apart from the other entries of " +
                            GbkForDisplay(report.details[i].descriptor.path));
      }
      continue;
    }
    for (uint32_t k = i; k != NO_ENTRY; k = groups.next[k]) {
      const std::string& source = report.details[k].descriptor.sourcePath;
      if (source.empty()) continue;
      const auto found = std::find(written.begin(), written.end(), FoldEntryName(source));
      if (found == written.end()) continue;
      problems->push_back(shown(k) + " applies a delta to " + GbkForDisplay(source) + ", which " +
                          shown(writers[found - written.begin()]) +
                          " writes before it; the updater refuses the patch (exit code 1)");
    }
    written.push_back(FoldEntryName(report.details[i].descriptor.path));
    writers.push_back(i);
  }
}

void CheckVersions(const PatchTrailer& trailer, std::vector<std::string>* problems) {
  const char* labels[2] = {"base", "target"};
  const char* fields[2] = {trailer.baseVersion, trailer.targetVersion};
  bool bothWellFormed = true;
  for (int i = 0; i < 2; ++i) {
    if (std::memchr(fields[i], '\0', PATCH_VERSION_FIELD_SIZE) == nullptr) {
      problems->push_back(std::string(labels[i]) + " version has no NUL within 60 bytes");
      bothWellFormed = false;
      continue;
    }
    if (!IsWellFormedVersion(fields[i])) {
      problems->push_back(std::string(labels[i]) + " version \"" + GbkForDisplay(fields[i]) +
                          "\" is not four decimal numbers");
      bothWellFormed = false;
    }
  }
  uint32_t base = 0, target = 0;
  if (bothWellFormed && ParseVersionValue(trailer.baseVersion, &base) &&
      ParseVersionValue(trailer.targetVersion, &target) && base > target) {
    problems->push_back("base version is above the target version (the updater compares " +
                        Number(base) + " > " + Number(target) + ")");
  }
}

// A damaged entry region is a reason not to apply the file: the updater
// refuses it too.
void CheckDigest(ByteSource& source, PayloadReport* report) {
  report->digest = ParseDigestRecord(report->trailer);
  if (report->digest.kind != DigestRecordKind::Present) return;
  const uint64_t begin = report->trailer.firstEntryOffset;
  const uint64_t end = DigestRegionEnd(report->trailer);
  uint64_t digested = 0;
  if (!DigestRegion(source, begin, end, report->actualDigest, &digested)) {
    report->digestFailed = true;
    report->structuralProblems.push_back(
        "payload digest cannot be checked: the entry region (bytes " + Number(begin) + " to " +
        Number(end) + ") could not be read whole");
    return;
  }
  report->digestMatches =
      std::memcmp(report->actualDigest, report->digest.digest, PAYLOAD_DIGEST_SIZE) == 0;
  if (!report->digestMatches) {
    report->digestFailed = true;
    report->structuralProblems.push_back("payload digest does not match: recorded " +
                                         DigestHex(report->digest.digest) + ", entries hash to " +
                                         DigestHex(report->actualDigest) + " (damaged file)");
  }
}

}  // namespace

PayloadReport InspectPayload(ByteSource& file) {
  PayloadReport report;
  report.fileSize = file.Size();
  report.signature = ReadPeSignature(file);
  report.payloadEnd = PayloadEnd(file, report.signature);
  BoundedPayloadSource source(file, report.payloadEnd);
  const uint64_t size = report.payloadEnd;
  std::vector<std::string>& structural = report.structuralProblems;
  uint32_t got = 0;
  if (size < PATCH_TRAILER_SIZE) {
    structural.push_back("file is shorter than the 136-byte trailer (" + Number(size) + " bytes)");
    return report;
  }
  if (!ReadTrailer(source, &report.trailer, &got)) {
    structural.push_back("trailer could not be read (" + Number(got) + " of 136 bytes)");
    return report;
  }
  report.trailerRead = true;
  const PatchTrailer& trailer = report.trailer;
  if (trailer.magic != PATCH_TRAILER_MAGIC) {
    structural.push_back("no payload: the trailer's magic value is wrong");
    return report;
  }
  if (trailer.totalFileSize != size) {
    structural.push_back("trailer says the file has " + Number(trailer.totalFileSize) +
                         " bytes, it has " + Number(size));
  }
  report.table = ReadPayloadTable(source, trailer);
  if (report.table.error != PayloadError::None) {
    std::string where = report.table.error == PayloadError::EntryCountImpossible
                            ? ""
                            : " at entry " + Number(report.table.failedEntry + 1);
    structural.push_back(std::string(PayloadErrorText(report.table.error)) + where);
  }
  if (report.table.error == PayloadError::None) {
    ReadDetails(source, &report);
    if (report.structuralProblems.empty()) CheckGroups(&report);
  }
  CheckDigest(source, &report);

  CheckVersions(trailer, &report.writerProblems);
  if (report.table.error == PayloadError::None) {
    uint64_t trailerOffset = size - PATCH_TRAILER_SIZE;
    if (report.table.entriesEnd < trailerOffset) {
      report.writerProblems.push_back(Number(trailerOffset - report.table.entriesEnd) +
                                      " stray bytes between the last entry and the trailer");
    } else if (report.table.entriesEnd > trailerOffset) {  // only with no entries
      report.writerProblems.push_back("first entry offset lies past the trailer");
    }
    CheckClashes(report, &report.writerProblems);
    if (report.details.size() == report.table.entries.size()) {
      CheckOrder(report, &report.writerProblems);
    }
  }
  if (report.fileSize >= (uint64_t(1) << 31)) {
    report.writerProblems.push_back("file is 2 GiB or larger");
  }
  return report;
}
