#include "mkpatch/commands/check_command.h"

#include <cstdio>
#include <string>
#include <vector>

#include "mkpatch/fs/file_source.h"
#include "mkpatch/fs/file_system.h"
#include "mkpatch/fs/name_encoding.h"
#include "mkpatch/inspect/file_ways.h"
#include "mkpatch/inspect/game_tree.h"
#include "mkpatch/inspect/install_target.h"
#include "mkpatch/inspect/patch_builds.h"
#include "mkpatch/inspect/payload_check.h"
#include "mkpatch/inspect/pending_commit.h"
#include "mkpatch/inspect/plan_reasons.h"
#include "mkpatch/inspect/profile_string.h"
#include "mkpatch/write/json_text.h"
#include "update/format/version_gate.h"
#include "update/plan/install_plan.h"
#include "update/plan/space_needs.h"

namespace {

// The updater reads the installed version into a buffer of this size.
const size_t kVersionBufferSize = 260;

struct CheckResult {
  std::string installedVersion;  // GBK, as the configuration holds it
  std::string baseVersion;       // GBK, from the trailer
  std::string targetVersion;
  std::vector<std::string> reasons;   // why the updater would not apply; UTF-8
  std::vector<std::string> warnings;  // what a sound writer avoids
  bool entriesKnown = false;
  std::vector<PayloadEntry> entries;
  std::vector<EntryDetail> details;
  InstallPlan plan;
  PendingCommit pending;
  uint64_t gameBytes = 0;      // free space the run needs beside the game's files
  uint64_t tempBytes = 0;      // and in the temporary folder, margins included
  std::vector<FileWay> files;  // per file installed at a path: what it holds, what it gets
};

// The updater asks each volume for the room its plan needs at one time; the
// check names the two folders, whose volumes it cannot know.
void CountSpace(CheckResult* result) {
  const std::vector<EntrySpace> spaces =
      SpacesOfPlan(result->entries, result->details, result->plan);
  for (const VolumeNeed& need : SpaceNeedsFor(spaces, "temp", "game")) {
    (need.volume == "game" ? result->gameBytes : result->tempBytes) = need.bytes;
  }
}

// The updater opens GAMEDIR/Config/Client.ini, which Windows finds whatever
// the letters' case.
void ReadInstalledVersion(const std::string& gameDir, CheckResult* result) {
  std::string folder, path;
  if (!FindIgnoringCase(gameDir, "Config", &folder) ||
      !FindIgnoringCase(folder, "Client.ini", &path) || !IsRegularFile(path)) {
    result->reasons.push_back("no Config/Client.ini in " + gameDir);
    return;
  }
  UniqueFile file = OpenFile(path, "rb");
  uint64_t size = 0;
  std::string bytes;
  if (file && FileSize(file.Get(), &size)) {
    bytes.resize(static_cast<size_t>(size));
    if (size > 0 && std::fread(&bytes[0], 1, bytes.size(), file.Get()) != bytes.size()) {
      file.Reset();
    }
  }
  if (!file) {
    result->reasons.push_back("cannot read " + path);
    return;
  }
  if (!ReadProfileString(bytes, "Version", "GameVersion", kVersionBufferSize,
                         &result->installedVersion) ||
      result->installedVersion.empty()) {
    result->reasons.push_back(path + " has no GameVersion in its [Version] section");
  }
}

void ApplyVersionGate(CheckResult* result) {
  const char* installed = result->installedVersion.c_str();
  if (IsVersionInRange(installed, result->baseVersion.c_str(), result->targetVersion.c_str())) {
    return;
  }
  uint32_t value = 0;
  std::string shown = GbkForDisplay(result->installedVersion);
  if (!ParseVersionValue(installed, &value)) {
    result->reasons.push_back("installed version \"" + shown +
                              "\" is not a version the updater can compare");
  } else {
    result->reasons.push_back("installed version " + shown + " is outside the patch's range " +
                              GbkForDisplay(result->baseVersion) + " .. " +
                              GbkForDisplay(result->targetVersion));
  }
}

CheckResult Check(const Options& options) {
  CheckResult result;
  UniqueFile file = OpenFile(options.file, "rb");
  uint64_t size = 0;
  if (!file || !FileSize(file.Get(), &size)) {
    result.reasons.push_back("cannot open " + options.file);
    return result;
  }
  FileByteSource source(file.Get(), size);
  const PayloadReport report = InspectPayload(source);
  const PatchTrailer& trailer = report.trailer;
  const bool versionsKnown = report.trailerRead && trailer.magic == PATCH_TRAILER_MAGIC;
  if (versionsKnown) {
    result.baseVersion = FieldText(trailer.baseVersion, PATCH_VERSION_FIELD_SIZE);
    result.targetVersion = FieldText(trailer.targetVersion, PATCH_VERSION_FIELD_SIZE);
  }
  result.reasons = report.structuralProblems;
  if (report.Readable() && trailer.firstEntryOffset == 0) {
    result.reasons.push_back(options.file +
                             " is a bare package (its entries start at byte 0), "
                             "not an updater");
  }
  result.warnings = report.writerProblems;

  const size_t reasonsBefore = result.reasons.size();
  result.pending = FindPendingCommit(options.directory, options.file);
  const std::string refusal = PendingCommitRefusal(result.pending, false);
  ReadInstalledVersion(options.directory, &result);
  const size_t gateBefore = result.reasons.size();
  if (versionsKnown && result.reasons.size() == reasonsBefore) ApplyVersionGate(&result);
  if (result.reasons.size() > gateBefore && result.pending.found != PendingCommit::Found::None &&
      result.pending.found != PendingCommit::Found::Finished) {
    // Between two builds the version record says little: the updater names
    // the unfinished update instead of the version. An update that was
    // complete left one build, and its version stands.
    result.reasons.resize(gateBefore);
    result.reasons.push_back(PendingCommitRefusal(result.pending, true));
  } else if (!refusal.empty()) {
    result.reasons.push_back(refusal);
  }

  if (report.Readable()) {
    std::vector<InstalledAt> written;
    // A file's several ways are one file's entries, and write it once.
    const EntryGroups groups = GroupEntries(report.table.entries, report.details);
    for (size_t i = 0; i < report.table.entries.size(); ++i) {
      const PayloadEntry& entry = report.table.entries[i];
      const EntryKind kind = InstallKindOf(entry, report.details[i]);
      if (kind == EntryKind::PathFile && groups.first[i] != i) continue;
      if (kind == EntryKind::PlainFile || kind == EntryKind::PathFile) {
        written.push_back({entry.name, DestinationOf(entry, report.details[i])});
      }
    }
    for (const std::string& clash : FindDestinationClashes(written)) {
      result.warnings.push_back(clash + "; the later one wins");
    }
    GameTree game(options.directory);
    result.plan = PredictInstall(source, report.table.entries, report.details, game);
    result.entriesKnown = true;
    result.entries = report.table.entries;
    result.details = report.details;
    for (const std::string& reason :
         PlanReasons(result.plan, report.table.entries, report.details)) {
      result.reasons.push_back(reason);
    }
    CountSpace(&result);
    PatchBuilds builds = ReadPatchBuilds(source, report.table.entries, report.details);
    // A patch from one old build names none: its deltas are from the base.
    if (!builds.listed) builds.names = {GbkForDisplay(result.baseVersion)};
    result.files = DescribeWays(result.plan, report.table.entries, report.details, builds, game);
  }
  return result;
}

std::string JoinedReasons(const std::vector<std::string>& reasons) {
  std::string joined;
  for (const std::string& reason : reasons) joined += (joined.empty() ? "" : "; ") + reason;
  return joined;
}

void PrintFileWayJson(const FileWay& file, std::ostream& out) {
  out << "{\"path\":" << JsonString(file.path) << ",\"found\":\"" << FoundBytesName(file.found)
      << "\",\"builds\":" << JsonStrings(file.builds) << ",\"way\":[";
  for (size_t i = 0; i < file.way.size(); ++i) {
    const WayStep& step = file.way[i];
    out << (i ? "," : "") << "{\"entry\":" << step.entry + 1 << ",\"kind\":\"" << step.kind
        << "\",\"from\":" << JsonStrings(step.from) << ",\"to\":";
    out << (step.kind == "step" ? JsonStrings(step.to) : std::string("null")) << "}";
  }
  out << "]}";
}

void PrintJson(const CheckResult& result, std::ostream& out) {
  out << "{\"installedVersion\":" << JsonString(GbkForDisplay(result.installedVersion))
      << ",\"baseVersion\":" << JsonString(GbkForDisplay(result.baseVersion))
      << ",\"targetVersion\":" << JsonString(GbkForDisplay(result.targetVersion))
      << ",\"applies\":" << (result.reasons.empty() ? "true" : "false");
  if (!result.reasons.empty()) out << ",\"reason\":" << JsonString(JoinedReasons(result.reasons));
  out << ",\"pendingCommit\":\"" << PendingCommitName(result.pending.found) << "\"";
  if (result.entriesKnown) {
    out << ",\"spaceNeeded\":{\"game\":" << result.gameBytes << ",\"temp\":" << result.tempBytes
        << "}";
  }
  out << ",\"entries\":[";
  const char* separator = "";
  for (size_t i = 0; i < result.plan.entries.size(); ++i) {
    const PlannedEntry& entry = result.plan.entries[i];
    const EntryDetail& detail = result.details[i];
    // A package goes to the launcher, the build list nowhere.
    const bool writes = entry.kind != EntryKind::Package && entry.kind != EntryKind::BuildList;
    out << separator << "{\"name\":" << JsonString(GbkForDisplay(result.entries[i].name))
        << ",\"install\":\"" << InstallVerb(entry.kind) << "\"";
    if (detail.HasDescriptor()) {
      out << ",\"kind\":\"" << EntryKindText(entry.kind) << "\",\"coding\":";
      if (entry.kind == EntryKind::Removal) {
        out << "null";
      } else {
        out << "\"" << CodingName(detail.descriptor.coding) << "\"";
      }
    }
    if (writes) out << ",\"destination\":" << JsonString(GbkForDisplay(entry.destination));
    out << ",\"action\":\"" << InstallActionName(entry.action) << "\"}";
    separator = ",";
  }
  out << "]";
  // Only patches with files installed at a path have ways to tell.
  if (!result.files.empty()) {
    out << ",\"files\":[";
    separator = "";
    for (const FileWay& file : result.files) {
      out << separator;
      PrintFileWayJson(file, out);
      separator = ",";
    }
    out << "]";
  }
  out << "}\n";
}

void PrintText(const CheckResult& result, std::ostream& out) {
  out << "installed version: "
      << (result.installedVersion.empty() ? "(none)" : GbkForDisplay(result.installedVersion))
      << "\n"
      << "patch:             " << GbkForDisplay(result.baseVersion) << " -> "
      << GbkForDisplay(result.targetVersion) << "\n"
      << "applies:           " << (result.reasons.empty() ? "yes" : "no") << "\n";
  for (const std::string& reason : result.reasons) out << "reason:            " << reason << "\n";
  out << "pending commit:    " << PendingCommitSummary(result.pending) << "\n";
  if (!result.entriesKnown) return;
  out << "space needed:      " << result.gameBytes << " bytes free beside the game's files, "
      << result.tempBytes << " in the temporary folder (1 MiB margin each)\n";
  out << "entries:           " << result.plan.entries.size() << "\n";
  for (size_t i = 0; i < result.plan.entries.size(); ++i) {
    const PlannedEntry& entry = result.plan.entries[i];
    std::string action = InstallActionName(entry.action);
    out << "  " << action << std::string(9 - action.size(), ' ')
        << GbkForDisplay(result.entries[i].name);
    if (entry.kind == EntryKind::Package) {
      out << " -> the game's launcher\n";
    } else if (entry.kind == EntryKind::BuildList) {
      out << " (the names of the old builds)\n";
    } else {
      out << " -> " << GbkForDisplay(entry.destination) << "\n";
    }
  }
  if (result.files.empty()) return;
  out << "files:             " << result.files.size() << "\n";
  for (const FileWay& file : result.files) out << "  " << FileWayText(file) << "\n";
}

}  // namespace

int RunCheck(const Options& options, std::ostream& out, std::ostream& err) {
  const CheckResult result = Check(options);
  for (const std::string& warning : result.warnings) err << "mkpatch: warning: " << warning << "\n";
  if (options.json) {
    PrintJson(result, out);
  } else {
    PrintText(result, out);
  }
  return result.reasons.empty() ? 0 : 1;
}
