#include "inspect_command.h"

#include <cstdio>
#include <string>

#include "file_source.h"
#include "file_system.h"
#include "json_text.h"
#include "name_encoding.h"
#include "payload_check.h"

namespace {

bool Inspect(const Options& options, PayloadReport* report, std::ostream& err) {
  UniqueFile file = OpenFile(options.file, "rb");
  uint64_t size = 0;
  if (!file || !FileSize(file.Get(), &size)) {
    err << "mkpatch: cannot open " << options.file << "\n";
    return false;
  }
  FilePayloadSource source(file.Get(), size);
  *report = InspectPayload(source);
  return true;
}

std::string VersionText(const char* field) {
  return GbkForDisplay(FieldText(field, PATCH_VERSION_FIELD_SIZE));
}

// What the file says about its payload digest, for people.
std::string DigestSummary(const PayloadReport& report) {
  switch (report.digest.kind) {
    case DigestRecordKind::Absent:
      return "none (the updater runs without checking the entries)";
    case DigestRecordKind::UnknownFormat:
      return "record of unknown format " + std::to_string(report.digest.format) + ", not checked";
    case DigestRecordKind::Present:
      break;
  }
  std::string text = "md5 " + DigestHex(report.digest.digest);
  if (report.digestMatches) return text + " (matches)";
  return text + " (DOES NOT MATCH: the updater will refuse this file)";
}

const char* InstallKind(const std::string& name) {
  return IsPackageName(name) ? "package" : "file";
}

void PrintJson(const PayloadReport& report, std::ostream& out) {
  const PatchTrailer& trailer = report.trailer;
  out << "{\"baseVersion\":" << JsonString(VersionText(trailer.baseVersion))
      << ",\"targetVersion\":" << JsonString(VersionText(trailer.targetVersion))
      << ",\"firstEntryOffset\":" << trailer.firstEntryOffset
      << ",\"entryCount\":" << trailer.entryCount << ",\"totalFileSize\":" << trailer.totalFileSize
      << ",\"signed\":" << (report.signature.isSigned ? "true" : "false")
      << ",\"payloadEnd\":" << report.payloadEnd;
  if (report.digest.kind == DigestRecordKind::Present) {
    out << ",\"digest\":\"" << DigestHex(report.digest.digest)
        << "\",\"digestMatches\":" << (report.digestMatches ? "true" : "false");
  } else {
    out << ",\"digest\":null,\"digestMatches\":null";
  }
  out << ",\"entries\":[";
  const char* separator = "";
  for (const PayloadEntry& entry : report.table.entries) {
    out << separator << "{\"name\":" << JsonString(GbkForDisplay(entry.name))
        << ",\"size\":" << entry.size << ",\"offset\":" << entry.dataOffset << ",\"install\":\""
        << InstallKind(entry.name) << "\"}";
    separator = ",";
  }
  out << "]}\n";
}

void PrintText(const PayloadReport& report, std::ostream& out) {
  const PatchTrailer& trailer = report.trailer;
  out << "base version:   " << VersionText(trailer.baseVersion) << "\n"
      << "target version: " << VersionText(trailer.targetVersion) << "\n"
      << "entries:        " << trailer.entryCount << " (first at byte " << trailer.firstEntryOffset
      << ", file " << trailer.totalFileSize << " bytes)\n"
      << "digest:         " << DigestSummary(report) << "\n";
  if (report.signature.isSigned) {
    out << "signature:      " << report.signature.tableSize << " bytes at byte "
        << report.signature.tableOffset << " (the payload ends at byte " << report.payloadEnd
        << ")\n";
  }
  int ordinal = 0;
  for (const PayloadEntry& entry : report.table.entries) {
    char line[96];
    std::snprintf(line, sizeof line, "%5d %12lu %12llu  %-7s  ", ++ordinal,
                  static_cast<unsigned long>(entry.size),
                  static_cast<unsigned long long>(entry.dataOffset), InstallKind(entry.name));
    out << line << GbkForDisplay(entry.name) << "\n";
  }
}

}  // namespace

int RunList(const Options& options, std::ostream& out, std::ostream& err) {
  PayloadReport report;
  if (!Inspect(options, &report, err)) return 1;
  for (const std::string& problem : report.structuralProblems) {
    err << "mkpatch: " << options.file << ": " << problem << "\n";
  }
  if (!report.Listable()) return 1;
  if (options.json) {
    PrintJson(report, out);
  } else {
    PrintText(report, out);
  }
  return report.Readable() ? 0 : 1;
}

int RunVerify(const Options& options, std::ostream& out, std::ostream& err) {
  PayloadReport report;
  if (!Inspect(options, &report, err)) return 1;
  size_t count = report.structuralProblems.size() + report.writerProblems.size();
  if (report.trailerRead && report.trailer.magic == PATCH_TRAILER_MAGIC) {
    out << "digest: " << DigestSummary(report) << "\n";
  }
  for (const std::string& problem : report.structuralProblems)
    out << "problem: " << problem << "\n";
  for (const std::string& problem : report.writerProblems) out << "problem: " << problem << "\n";
  if (count > 0) {
    out << options.file << ": " << count << (count == 1 ? " problem\n" : " problems\n");
    return 1;
  }
  out << options.file << ": sound, " << report.table.entries.size() << " entries, "
      << VersionText(report.trailer.baseVersion) << " -> "
      << VersionText(report.trailer.targetVersion) << "\n";
  return 0;
}
