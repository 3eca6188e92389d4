#include "mkpatch/commands/diff_command.h"

#include <cstring>
#include <string>
#include <vector>

#include "mkpatch/fs/file_digest.h"
#include "mkpatch/fs/file_system.h"
#include "mkpatch/fs/name_encoding.h"
#include "mkpatch/inspect/name_clash.h"
#include "mkpatch/inspect/payload_check.h"
#include "mkpatch/plan/build_diff.h"
#include "mkpatch/plan/build_versions.h"
#include "mkpatch/plan/patch_comparison.h"
#include "mkpatch/plan/way_choice.h"
#include "mkpatch/write/diff_report.h"
#include "mkpatch/write/file_encoding.h"
#include "mkpatch/write/payload_writer.h"
#include "mkpatch/write/progress_bar.h"
#include "mkpatch/write/stub_plan.h"
#include "update/base/byte_source.h"
#include "update/base/md5.h"
#include "update/codec/delta_decoder.h"
#include "update/format/entry_descriptor.h"
#include "update/format/entry_name.h"
#include "update/format/entry_naming.h"
#include "update/format/game_layout.h"
#include "update/format/version_gate.h"

namespace {

// The entry that names the old builds; the updater passes it by.
const char kBuildListName[] = "builds.txt";

struct Package {
  std::string path;
  std::string name;  // GBK, the entry's name
  std::string shownName;
  uint64_t size = 0;
};

// Packages go to the launcher under their file names.
bool PlanPackages(const std::vector<std::string>& paths, std::vector<Package>* packages,
                  std::ostream& err) {
  bool sound = true;
  std::vector<std::string> names;
  for (const std::string& path : paths) {
    Package package;
    package.path = path;
    package.shownName = BaseName(path);
    UniqueFile file = IsRegularFile(path) ? OpenFile(path, "rb") : UniqueFile();
    if (!file || !FileSize(file.Get(), &package.size)) {
      err << "mkpatch: package " << path << " is not a readable file\n";
      sound = false;
      continue;
    }
    std::string problem;
    if (!Utf8ToGbk(package.shownName, &package.name)) {
      problem = "cannot be written in code page 936";
    } else if (package.name.size() > ENTRY_DESCRIPTOR_MAX_NAME) {
      problem = "is longer than the 70 bytes of code page 936 a package name may have";
    } else if (!IsPackageName(package.name)) {
      problem = "does not end in .tpk, as the launcher's packages do";
    } else if (const char* refused =
                   EntryNameProblem(package.name.c_str(), package.name.size() + 1)) {
      problem = std::string("is refused by the updater: ") + refused;
    }
    if (!problem.empty()) {
      err << "mkpatch: package name " << package.shownName << " " << problem << "\n";
      sound = false;
      continue;
    }
    names.push_back(package.name);
    packages->push_back(package);
  }
  const std::vector<std::string> clashes = FindNameClashes(names);
  for (const std::string& clash : clashes) err << "mkpatch: " << clash << "\n";
  return sound && clashes.empty();
}

// The names of the old builds in `builds` (bit n: build n).
std::vector<std::string> BuildNames(const std::vector<std::string>& names, uint32_t builds) {
  std::vector<std::string> named;
  for (size_t i = 0; i < names.size(); ++i) {
    if (builds & (uint32_t(1) << i)) named.push_back(names[i]);
  }
  return named;
}

class DiffWriter {
 public:
  DiffWriter(const Options& options, const BuildsDiff& diff, PayloadWriter& writer,
             ProgressBar& progress, EncodingLedger& ledger, std::ostream& err)
      : options_(options),
        diff_(diff),
        several_(diff.buildNames.size() > 1),
        writer_(writer),
        progress_(progress),
        ledger_(ledger),
        err_(err) {}

  // The names of the old builds, for mkpatch to tell them apart; the
  // updater passes the entry by.
  bool ShipBuildList() {
    std::string text;
    for (const std::string& name : diff_.buildNames) text += name + "\n";
    EncodedEntry encoded;
    encoded.descriptor.kind = EntryKind::BuildList;
    encoded.descriptor.coding = EntryCoding::Stored;
    encoded.descriptor.decodedSize = text.size();
    encoded.stored.assign(text.begin(), text.end());
    MD5 digest;
    digest.update(encoded.stored.data(), static_cast<uint32_t>(encoded.stored.size()));
    digest.finalize();
    std::memcpy(encoded.descriptor.decodedMd5, digest.raw_digest().data(), ENTRY_DIGEST_SIZE);
    // Not a file of the game: the summary's whole files leave it out.
    DiffRow row = Row(kBuildListName, encoded);
    row.action = "builds";
    row.builds = diff_.buildNames;
    return Write(kBuildListName, encoded, row);
  }

  bool Ship(const ShippedFile& file) {
    const uint64_t before = progress_.Done();
    const uint64_t work = EncodingWork(file, Ways());
    const EncodeProgress feed = [&](uint64_t done, uint64_t) {
      progress_.SetDone(before + (done < work ? done : work));
    };
    FileWays ways;
    const EncodeStatus status = ChooseWays(file, Ways(), &ledger_, feed, &ways);
    progress_.SetDone(before + work);
    uint64_t oldSize = 0;
    if (!Encoded(status, file.shown, file.contents.empty() ? 0 : file.contents[0].size,
                 file.size)) {
      return false;
    }
    if (ways.repaired) {
      ++repairedFiles_;
      repairCost_ += ways.entries.back().shipped - ways.deltaBytes;
    }
    bool atOwnPath = false;
    for (const OldContent& content : file.contents) {
      if (content.ownPath && !atOwnPath) {
        atOwnPath = true;
        oldSize = content.size;
      }
    }
    for (const PlannedWay& way : ways.entries) {
      DiffRow row = Row(file.shown, way.encoded);
      row.hasNewSize = true;
      row.newSize = way.encoded.descriptor.decodedSize;
      if (way.content >= 0) {
        const OldContent& content = file.contents[way.content];
        row.action = way.step ? "step" : "delta";
        row.hasOldSize = true;
        row.oldSize = content.size;
        if (!content.ownPath) row.from = content.shown;
        if (several_) row.builds = BuildNames(diff_.buildNames, content.builds);
        if (several_ && way.step) {
          row.stepTo = BuildNames(diff_.buildNames, file.contents[content.next].builds);
        }
      } else {
        row.action = atOwnPath ? "whole" : "new";
        row.hasOldSize = atOwnPath;
        row.oldSize = oldSize;
        if (several_) row.builds = BuildNames(diff_.buildNames, way.wholeFor);
      }
      if (!Write(DescriptorEntryName(file.path), way.encoded, row)) return false;
    }
    return true;
  }

  bool Ship(const Package& package) {
    EncodedEntry encoded;
    const uint64_t before = progress_.Done();
    const EncodeStatus status = EncodeFileWhole(
        package.path, package.size,
        [&](uint64_t done, uint64_t) { progress_.SetDone(before + done); }, &encoded);
    if (!Encoded(status, package.shownName, 0, package.size)) return false;
    encoded.descriptor.kind = EntryKind::Package;
    DiffRow row = Row(package.shownName, encoded);
    row.action = "package";
    row.hasNewSize = true;
    row.newSize = package.size;
    return Write(package.name, encoded, row);
  }

  // A removal stores nothing: the old file's size and MD5 tell the updater
  // whether the player's copy is still the one to remove. One for each
  // distinct file the old builds had there.
  bool Remove(const RemovedFile& file) {
    for (const OldContent& content : file.contents) {
      EncodedEntry encoded;
      uint64_t size = 0;
      if (!DigestFile(content.local, &size, encoded.descriptor.sourceMd5) || size != content.size ||
          std::memcmp(encoded.descriptor.sourceMd5, content.md5, ENTRY_DIGEST_SIZE) != 0) {
        err_ << "mkpatch: " << content.local << " changed or vanished while building\n";
        return false;
      }
      encoded.descriptor.kind = EntryKind::Removal;
      encoded.descriptor.coding = EntryCoding::Stored;
      encoded.descriptor.sourceSize = size;
      encoded.descriptor.path = file.path;
      if (several_) encoded.descriptor.sourceBuilds = content.builds;
      DiffRow row = Row(file.shown, encoded);
      row.action = "removed";
      row.coded = false;
      row.hasOldSize = true;
      row.oldSize = content.size;
      if (several_) row.builds = BuildNames(diff_.buildNames, content.builds);
      if (!Write(DescriptorEntryName(file.path), encoded, row)) return false;
    }
    return true;
  }

  std::vector<DiffRow> TakeRows() { return std::move(rows_); }
  size_t RepairedFiles() const { return repairedFiles_; }
  uint64_t RepairCost() const { return repairCost_; }

 private:
  WayOptions Ways() const {
    WayOptions ways;
    ways.namesBuilds = several_;
    ways.repair = options_.repair;
    return ways;
  }

  bool Encoded(EncodeStatus status, const std::string& shown, uint64_t oldSize, uint64_t newSize) {
    if (status == EncodeStatus::Done) return true;
    if (status == EncodeStatus::Unreadable) {
      err_ << "mkpatch: " << shown << " changed or vanished while building\n";
      return false;
    }
    err_ << "mkpatch: " << shown << " is too large to encode in memory (old " << oldSize
         << " bytes, new " << newSize << " bytes)";
    if (sizeof(void*) == 4) {
      err_ << "; mkpatch.exe is a 32-bit program and cannot diff it, the 64-bit Linux mkpatch can";
    }
    err_ << "\n";
    return false;
  }

  DiffRow Row(const std::string& shown, const EncodedEntry& encoded) {
    DiffRow row;
    row.path = shown;
    row.coded = true;
    row.coding = encoded.descriptor.coding;
    row.stored = encoded.stored.size();
    row.shipped = ShippedBytes(encoded.descriptor, encoded.stored.size());
    if (row.coding == EntryCoding::Delta) {
      MemoryByteSource stored(encoded.stored.data(), encoded.stored.size());
      DecodeRequest request;
      request.stored = &stored;
      request.storedSize = encoded.stored.size();
      row.deltaWay = DeltaWayText(ReadDeltaWay(request));
    }
    return row;
  }

  bool Write(const std::string& name, const EncodedEntry& encoded, const DiffRow& row) {
    if (!writer_.Fits(row.shipped - PATCH_ENTRY_HEADER_SIZE)) {
      err_ << "mkpatch: the result would reach 2 GiB at " << row.path
           << "; the updater needs less than 2 GiB\n";
      return false;
    }
    if (!writer_.WriteDescriptorEntry(name, encoded.descriptor, encoded.stored)) {
      err_ << "mkpatch: writing " << options_.output << " failed\n";
      return false;
    }
    rows_.push_back(row);
    return true;
  }

  const Options& options_;
  const BuildsDiff& diff_;
  const bool several_;
  PayloadWriter& writer_;
  ProgressBar& progress_;
  EncodingLedger& ledger_;
  std::ostream& err_;
  std::vector<DiffRow> rows_;
  size_t repairedFiles_ = 0;
  uint64_t repairCost_ = 0;
};

// A later build whose version the updater's gate refuses gains nothing
// from the patch: its players are sent away before any file is read.
void NoteBuildsOutsideTheRange(const Options& options, const BuildsDiff& diff, std::ostream& err) {
  for (size_t i = 1; i < diff.buildNames.size(); ++i) {
    const std::string& name = diff.buildNames[i];
    uint32_t value = 0;
    if (!ParseVersionValue(name.c_str(), &value)) continue;
    if (!IsVersionInRange(name.c_str(), options.baseVersion.c_str(),
                          options.targetVersion.c_str())) {
      err << "mkpatch: warning: --from " << options.fromDirs[i - 1] << " is build " << name
          << ", outside " << options.baseVersion << " .. " << options.targetVersion
          << "; the updater refuses a game at that version\n";
    }
  }
}

}  // namespace

int RunDiff(const Options& options, std::ostream& out, std::ostream& err) {
  if (!CheckBuildVersions(options.baseVersion, options.targetVersion, err)) return 1;
  std::vector<std::string> oldDirs = {options.oldDir};
  oldDirs.insert(oldDirs.end(), options.fromDirs.begin(), options.fromDirs.end());
  if (oldDirs.size() > kMostOldBuilds) {
    err << "mkpatch: a patch names at most " << kMostOldBuilds << " old builds; " << oldDirs.size()
        << " given\n";
    return 1;
  }
  ReleaseBuilds builds;
  BuildsDiff diff;
  std::vector<std::string> notes, problems;
  const bool treesSound =
      builds.Read(oldDirs, options.newDir, &notes, &problems) && builds.Diff(&diff, &problems);
  for (const std::string& note : notes) err << "mkpatch: " << note << "\n";
  for (const std::string& problem : problems) err << "mkpatch: " << problem << "\n";
  std::vector<Package> packages;
  if (!PlanPackages(options.packages, &packages, err) || !treesSound) return 1;
  const bool several = oldDirs.size() > 1;
  if (!several) diff.buildNames.clear();
  NoteBuildsOutsideTheRange(options, diff, err);

  UniqueFile stub = OpenFile(options.stub, "rb");
  if (!stub) {
    err << "mkpatch: cannot open stub " << options.stub << "\n";
    return 1;
  }
  StubPlan stubPlan;
  // A finished updater serves as the stub too: its old payload is cut off.
  if (!MeasureStub(options.stub, true, stub.Get(), &stubPlan, err)) return 1;
  if (stubPlan.payloadCut) {
    err << "mkpatch: stub " << options.stub << " carries a payload; it is replaced\n";
  }

  PayloadWriter writer(options.output);
  if (!writer.IsOpen()) {
    err << "mkpatch: cannot create a file next to " << options.output << "\n";
    return 1;
  }
  DiffReport report;
  EncodingLedger ledger;
  {
    WayOptions ways;
    ways.namesBuilds = several;
    ways.repair = options.repair;
    uint64_t work = 0;
    for (const ShippedFile& file : diff.shipped) work += EncodingWork(file, ways);
    for (const Package& package : packages) work += package.size;
    ProgressBar progress("diffing", work);  // gone before the summary is printed
    ProgressBar quiet("", 0);               // the stub is copied in no time
    if (!writer.CopyStub(stub.Get(), stubPlan, quiet)) {
      err << "mkpatch: writing " << options.output << " failed\n";
      return 1;
    }
    DiffWriter entries(options, diff, writer, progress, ledger, err);
    if (several && !entries.ShipBuildList()) return 1;
    for (const ShippedFile& file : diff.shipped) {
      if (!entries.Ship(file)) return 1;
    }
    for (const Package& package : packages) {
      if (!entries.Ship(package)) return 1;
    }
    for (const RemovedFile& file : diff.removed) {
      if (!entries.Remove(file)) return 1;
    }
    report.rows = entries.TakeRows();
    report.repair = options.repair;
    report.repairedFiles = entries.RepairedFiles();
    report.repairCost = entries.RepairCost();
  }
  if (several) {
    // What the patches this one replaces would ship, from the encodings made
    // and what they lack.
    PatchComparison comparison;
    std::string error;
    if (!ComparePatches(builds, &ledger, nullptr, &comparison, &error)) {
      err << "mkpatch: " << error << "\n";
      return 1;
    }
    report.buildNames = diff.buildNames;
    report.singleSteps = comparison.singleSteps;
    report.direct = comparison.direct;
  }

  report.output = options.output;
  report.baseVersion = options.baseVersion;
  report.targetVersion = options.targetVersion;
  report.unchanged = diff.unchanged;
  report.stubBytes = writer.StubBytes();
  report.patchSize = writer.Written() + PATCH_TRAILER_SIZE;
  if (!writer.Finish(options.baseVersion, options.targetVersion)) {
    err << "mkpatch: writing " << options.output << " failed\n";
    return 1;
  }
  PrintDiffSummary(report, err);
  if (options.json) {
    PrintDiffJson(report, out);
  } else {
    out << "wrote " << options.output << ": " << report.rows.size() << " entries, "
        << report.patchSize << " bytes, " << options.baseVersion << " -> " << options.targetVersion
        << "\n";
  }
  return 0;
}
