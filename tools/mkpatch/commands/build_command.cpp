#include "mkpatch/commands/build_command.h"

#include <string>
#include <vector>

#include "mkpatch/fs/file_system.h"
#include "mkpatch/inspect/install_target.h"
#include "mkpatch/inspect/payload_check.h"
#include "mkpatch/plan/build_entries.h"
#include "mkpatch/plan/build_versions.h"
#include "mkpatch/write/file_encoding.h"
#include "mkpatch/write/payload_writer.h"
#include "mkpatch/write/progress_bar.h"
#include "mkpatch/write/stub_plan.h"
#include "update/format/entry_descriptor.h"
#include "update/format/entry_naming.h"
#include "update/format/game_layout.h"
#include "update/format/payload.h"

namespace {

// An updater installs every plain file into the game directory under the last
// part of its name, so two such entries can overwrite each other. A bare
// package is exempt: the launcher unpacks it with its directories.
bool CheckInstallTargets(const std::vector<BuildEntry>& entries, std::ostream& err) {
  std::vector<std::string> names;
  for (const BuildEntry& entry : entries) names.push_back(entry.name);
  std::vector<std::string> clashes = FindInstallClashes(names);
  for (const std::string& clash : clashes) err << "mkpatch: " << clash << "\n";
  if (!clashes.empty()) return false;
  for (const std::string& note : DirectoryPartNotes(names)) {
    err << "mkpatch: warning: " << note << "\n";
  }
  return true;
}

// Each entry compressed when that is smaller, behind a descriptor that tells
// the updater how to decode it. False after a message when an input cannot be
// read or encoded, or the result would be too large.
bool WriteCompressed(PayloadWriter& writer, const BuildEntry& entry, ProgressBar& progress,
                     std::ostream& err) {
  EncodedEntry encoded;
  const uint64_t before = progress.Done();
  const EncodeStatus status = EncodeFileWhole(
      entry.path, entry.size, [&](uint64_t done, uint64_t) { progress.SetDone(before + done); },
      &encoded);
  if (status == EncodeStatus::OutOfMemory) {
    err << "mkpatch: " << entry.path << " (" << entry.size
        << " bytes) is too large to compress in memory\n";
    return false;
  }
  if (status != EncodeStatus::Done) {
    err << "mkpatch: " << entry.path << " changed or vanished while building\n";
    return false;
  }
  const bool package = IsPackageName(entry.name.empty() ? PATCH_TOPLEVEL_NAME : entry.name);
  encoded.descriptor.kind = package ? EntryKind::Package : EntryKind::PlainFile;
  if (!writer.Fits(EncodeEntryDescriptor(encoded.descriptor).size() + encoded.stored.size())) {
    err << "mkpatch: the result would reach 2 GiB at " << entry.displayName
        << "; the updater needs less than 2 GiB\n";
    return false;
  }
  if (!writer.WriteDescriptorEntry(entry.name, encoded.descriptor, encoded.stored)) {
    err << "mkpatch: writing " << entry.displayName << " failed\n";
    return false;
  }
  return true;
}

// A compressed entry's name shares its field with the descriptor marker.
bool CheckCompressedNames(const std::vector<BuildEntry>& entries, std::ostream& err) {
  bool sound = true;
  for (const BuildEntry& entry : entries) {
    if (entry.name.size() > ENTRY_DESCRIPTOR_MAX_NAME) {
      err << "mkpatch: entry name " << entry.displayName << " is " << entry.name.size()
          << " bytes in code page 936; with --compress the limit is " << ENTRY_DESCRIPTOR_MAX_NAME
          << "\n";
      sound = false;
    }
  }
  return sound;
}

}  // namespace

int RunBuild(const Options& options, std::ostream& out, std::ostream& err) {
  if (!CheckBuildVersions(options.baseVersion, options.targetVersion, err)) return 1;

  std::vector<BuildEntry> entries;
  std::vector<std::string> problems;
  if (!PlanBuildEntries(options.inputs, &entries, &problems)) {
    for (const std::string& problem : problems) err << "mkpatch: " << problem << "\n";
    return 1;
  }
  if (!options.stub.empty() && !CheckInstallTargets(entries, err)) return 1;
  if (options.compress && !CheckCompressedNames(entries, err)) return 1;

  UniqueFile stub;
  StubPlan stubPlan;
  if (!options.stub.empty()) {
    stub = OpenFile(options.stub, "rb");
    if (!stub) {
      err << "mkpatch: cannot open stub " << options.stub << "\n";
      return 1;
    }
    if (!MeasureStub(options.stub, options.replacePayload, stub.Get(), &stubPlan, err)) return 1;
  }

  // Stored as they are, the entries' sizes are known now; compressed, the
  // limit is checked as each entry is written.
  uint64_t total = stubPlan.keep + PATCH_TRAILER_SIZE;
  for (const BuildEntry& entry : entries) total += PATCH_ENTRY_HEADER_SIZE + entry.size;
  if (!options.compress && total >= PATCH_FILE_SIZE_LIMIT) {
    err << "mkpatch: the result would be " << total
        << " bytes; the updater needs less than 2 GiB\n";
    return 1;
  }

  PayloadWriter writer(options.output);
  if (!writer.IsOpen()) {
    err << "mkpatch: cannot create a file next to " << options.output << "\n";
    return 1;
  }
  ProgressBar progress(options.compress ? "compressing" : "building", total);
  bool written = !stub || writer.CopyStub(stub.Get(), stubPlan, progress);
  for (size_t i = 0; written && i < entries.size(); ++i) {
    if (options.compress) {
      if (!WriteCompressed(writer, entries[i], progress, err)) return 1;
      continue;
    }
    UniqueFile input = OpenFile(entries[i].path, "rb");
    uint64_t sizeNow = 0;
    if (!input || !FileSize(input.Get(), &sizeNow) || sizeNow != entries[i].size) {
      err << "mkpatch: " << entries[i].path << " changed or vanished while building\n";
      return 1;
    }
    char field[PATCH_NAME_FIELD_SIZE];
    PlainNameField(entries[i].name, field);
    written = writer.WriteHeader(field, static_cast<uint32_t>(entries[i].size)) &&
              writer.CopyData(input.Get(), entries[i].size, progress);
  }
  const uint64_t finalSize = writer.Written() + PATCH_TRAILER_SIZE;
  if (!written || !writer.Finish(options.baseVersion, options.targetVersion)) {
    err << "mkpatch: writing " << options.output << " failed\n";
    return 1;
  }
  out << "wrote " << options.output << ": " << entries.size() << " entries, " << finalSize
      << " bytes, " << options.baseVersion << " -> " << options.targetVersion << "\n";
  return 0;
}
