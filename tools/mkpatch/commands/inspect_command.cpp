#include "mkpatch/commands/inspect_command.h"

#include <cstdio>
#include <string>

#include "mkpatch/fs/file_source.h"
#include "mkpatch/fs/file_system.h"
#include "mkpatch/fs/name_encoding.h"
#include "mkpatch/inspect/content_check.h"
#include "mkpatch/inspect/install_target.h"
#include "mkpatch/inspect/patch_builds.h"
#include "mkpatch/inspect/payload_check.h"
#include "mkpatch/write/json_text.h"
#include "update/codec/delta_decoder.h"

namespace {

// The file kept open, for the reads that follow the inspection.
struct Inspection {
  UniqueFile file;
  uint64_t size = 0;
  PayloadReport report;
};

bool Inspect(const Options& options, Inspection* inspection, std::ostream& err) {
  inspection->file = OpenFile(options.file, "rb");
  if (!inspection->file || !FileSize(inspection->file.Get(), &inspection->size)) {
    err << "mkpatch: cannot open " << options.file << "\n";
    return false;
  }
  FileByteSource source(inspection->file.Get(), inspection->size);
  inspection->report = InspectPayload(source);
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

bool NamesSource(const EntryDescriptor& d) {
  return d.coding == EntryCoding::Delta || d.kind == EntryKind::Removal;
}

// How a delta entry makes its file, in words; empty for other entries.
std::string DeltaWayOf(ByteSource& updater, const PayloadEntry& entry, const EntryDetail& detail) {
  if (detail.descriptor.kind == EntryKind::Removal ||
      detail.descriptor.coding != EntryCoding::Delta) {
    return "";
  }
  return DeltaWayText(ReadDeltaWay(DecodeRequestFor(updater, entry, detail, nullptr)));
}

// The fields a descriptor adds to an entry; plain entries keep their four,
// entries of format 1 the fields they always had.
void PrintDescriptorJson(const PayloadEntry& entry, const EntryDetail& detail,
                         const PatchBuilds& builds, const std::string& deltaWay,
                         std::ostream& out) {
  const EntryDescriptor& d = detail.descriptor;
  const bool removal = d.kind == EntryKind::Removal;
  out << ",\"kind\":\"" << EntryKindText(d.kind) << "\",\"coding\":"
      << (removal ? std::string("null") : std::string("\"") + CodingName(d.coding) + "\"")
      << ",\"deltaWay\":" << (deltaWay.empty() ? std::string("null") : JsonString(deltaWay))
      << ",\"storedSize\":" << StoredSize(entry, detail)
      << ",\"decodedSize\":" << (removal ? std::string("null") : std::to_string(d.decodedSize))
      << ",\"destination\":";
  const std::string destination = DestinationOf(entry, detail);
  const bool writes = d.kind != EntryKind::Package && d.kind != EntryKind::BuildList;
  out << (writes ? JsonString(GbkForDisplay(destination)) : std::string("null"));
  out << ",\"decodedMd5\":"
      << (removal ? std::string("null") : "\"" + DigestHex(d.decodedMd5) + "\"");
  if (NamesSource(d)) {
    out << ",\"sourceSize\":" << d.sourceSize << ",\"sourceMd5\":\"" << DigestHex(d.sourceMd5)
        << "\"";
  } else {
    out << ",\"sourceSize\":null,\"sourceMd5\":null";
  }
  out << ",\"sourcePath\":"
      << (d.sourcePath.empty() ? std::string("null") : JsonString(GbkForDisplay(d.sourcePath)));
  if (detail.format != ENTRY_DESCRIPTOR_FORMAT_2) return;
  out << ",\"step\":" << (d.IsStep() ? "true" : "false")
      << ",\"sourceBuilds\":" << JsonStrings(NamedBuilds(builds, d.sourceBuilds));
  if (d.kind == EntryKind::BuildList) out << ",\"builds\":" << JsonStrings(builds.names);
}

void PrintJson(const PayloadReport& report, const PatchBuilds& builds, ByteSource& updater,
               std::ostream& out) {
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
  for (size_t i = 0; i < report.table.entries.size(); ++i) {
    const PayloadEntry& entry = report.table.entries[i];
    const EntryDetail& detail = report.details[i];
    out << separator << "{\"name\":" << JsonString(GbkForDisplay(entry.name))
        << ",\"size\":" << entry.size << ",\"offset\":" << entry.dataOffset << ",\"install\":\""
        << InstallVerb(InstallKindOf(entry, detail)) << "\"";
    if (detail.HasDescriptor()) {
      PrintDescriptorJson(entry, detail, builds, DeltaWayOf(updater, entry, detail), out);
    }
    out << "}";
    separator = ",";
  }
  out << "]}\n";
}

// The second line of a marked entry: how it is stored and where it goes.
void PrintDescriptorText(const PayloadEntry& entry, const EntryDetail& detail,
                         const PatchBuilds& builds, const std::string& deltaWay,
                         std::ostream& out) {
  const EntryDescriptor& d = detail.descriptor;
  const std::string destination = GbkForDisplay(DestinationOf(entry, detail));
  const size_t named = NamedBuilds(builds, d.sourceBuilds).size();
  const std::string sourceBuilds = d.sourceBuilds == 0
                                       ? ""
                                       : (named == 1 ? ", as build " : ", as builds ") +
                                             JoinedBuilds(builds, d.sourceBuilds) + " had it";
  out << "      " << EntryKindText(d.kind);
  if (d.kind == EntryKind::Removal) {
    out << ": removes " << destination << " if it holds " << d.sourceSize << " bytes, md5 "
        << DigestHex(d.sourceMd5) << sourceBuilds << "\n";
    return;
  }
  out << ", " << CodingName(d.coding);
  if (!deltaWay.empty()) out << " (" << deltaWay << ")";
  out << ", " << StoredSize(entry, detail) << " -> " << d.decodedSize << " bytes, md5 "
      << DigestHex(d.decodedMd5);
  if (d.kind == EntryKind::BuildList) {
    std::string names;
    for (const std::string& name : builds.names) names += (names.empty() ? "" : ", ") + name;
    out << ", the old builds: " << (builds.listed ? names : "(unreadable)") << "\n";
    return;
  }
  out << ", " << (d.IsStep() ? "a step toward " : "to ")
      << (d.kind == EntryKind::Package ? "the game's launcher" : destination);
  if (d.coding == EntryCoding::Delta) {
    out << ", from ";
    if (!d.sourcePath.empty()) out << GbkForDisplay(d.sourcePath) << ", ";
    out << d.sourceSize << " bytes, md5 " << DigestHex(d.sourceMd5) << sourceBuilds;
  }
  out << "\n";
}

void PrintText(const PayloadReport& report, const PatchBuilds& builds, ByteSource& updater,
               std::ostream& out) {
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
  for (size_t i = 0; i < report.table.entries.size(); ++i) {
    const PayloadEntry& entry = report.table.entries[i];
    const EntryDetail& detail = report.details[i];
    char line[96];
    std::snprintf(line, sizeof line, "%5d %12lu %12llu  %-7s  ", static_cast<int>(i + 1),
                  static_cast<unsigned long>(entry.size),
                  static_cast<unsigned long long>(entry.dataOffset),
                  InstallVerb(InstallKindOf(entry, detail)));
    out << line << GbkForDisplay(entry.name) << "\n";
    if (detail.HasDescriptor()) {
      PrintDescriptorText(entry, detail, builds, DeltaWayOf(updater, entry, detail), out);
    }
  }
}

}  // namespace

int RunList(const Options& options, std::ostream& out, std::ostream& err) {
  Inspection inspection;
  if (!Inspect(options, &inspection, err)) return 1;
  const PayloadReport& report = inspection.report;
  for (const std::string& problem : report.structuralProblems) {
    err << "mkpatch: " << options.file << ": " << problem << "\n";
  }
  if (!report.Listable()) return 1;
  FileByteSource source(inspection.file.Get(), inspection.size);
  const PatchBuilds builds = ReadPatchBuilds(source, report.table.entries, report.details);
  if (options.json) {
    PrintJson(report, builds, source, out);
  } else {
    PrintText(report, builds, source, out);
  }
  return report.Readable() ? 0 : 1;
}

int RunVerify(const Options& options, std::ostream& out, std::ostream& err) {
  Inspection inspection;
  if (!Inspect(options, &inspection, err)) return 1;
  PayloadReport& report = inspection.report;
  const bool decodable = report.Readable();  // entries are decoded only in a sound table
  size_t streamsOnlyDeltas = 0;
  if (decodable) {
    FileByteSource source(inspection.file.Get(), inspection.size);
    for (const std::string& problem : CheckEntryContents(source, report, &streamsOnlyDeltas)) {
      report.structuralProblems.push_back(problem);
    }
  }
  size_t count = report.structuralProblems.size() + report.writerProblems.size();
  if (report.trailerRead && report.trailer.magic == PATCH_TRAILER_MAGIC) {
    out << "digest: " << DigestSummary(report) << "\n";
  }
  size_t decoded = 0, deltas = 0;
  for (const EntryDetail& detail : report.details) {
    if (!detail.HasDescriptor() || detail.descriptor.kind == EntryKind::Removal) continue;
    ++decoded;
    if (detail.descriptor.coding == EntryCoding::Delta) ++deltas;
  }
  if (decoded > 0 && decodable) {
    out << "decoded: " << decoded << (decoded == 1 ? " entry" : " entries")
        << " against their descriptors";
    if (deltas > streamsOnlyDeltas) {
      out << " (" << deltas - streamsOnlyDeltas
          << (deltas - streamsOnlyDeltas == 1 ? " delta" : " deltas")
          << " against zeros: bounds and sizes only)";
    }
    if (streamsOnlyDeltas > 0) {
      out << " (" << streamsOnlyDeltas << (streamsOnlyDeltas == 1 ? " delta" : " deltas")
          << " that only the installed file decodes: streams only)";
    }
    out << "\n";
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
