#include "mkpatch/commands/diff_command.h"

#include <string>
#include <vector>

#include "mkpatch/fs/file_digest.h"
#include "mkpatch/fs/file_system.h"
#include "mkpatch/fs/name_encoding.h"
#include "mkpatch/inspect/name_clash.h"
#include "mkpatch/inspect/payload_check.h"
#include "mkpatch/plan/build_versions.h"
#include "mkpatch/plan/tree_diff.h"
#include "mkpatch/write/diff_report.h"
#include "mkpatch/write/file_encoding.h"
#include "mkpatch/write/payload_writer.h"
#include "mkpatch/write/progress_bar.h"
#include "mkpatch/write/stub_plan.h"
#include "update/format/entry_descriptor.h"
#include "update/format/entry_name.h"
#include "update/format/entry_naming.h"
#include "update/format/game_layout.h"

namespace {

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

class DiffWriter {
 public:
  DiffWriter(const Options& options, PayloadWriter& writer, ProgressBar& progress,
             std::ostream& err)
      : options_(options), writer_(writer), progress_(progress), err_(err) {}

  bool Ship(const ChangedFile& file) {
    EncodedEntry encoded;
    const uint64_t before = progress_.Done();
    const EncodeProgress feed = [&](uint64_t done, uint64_t) { progress_.SetDone(before + done); };
    // A changed file, or an added one that was moved, may ship as a delta.
    const bool hasSource = !file.oldFile.empty();
    const EncodeStatus status = hasSource
                                    ? EncodeFileChange(file.oldFile, file.oldSize, file.newFile,
                                                       file.newSize, feed, &encoded)
                                    : EncodeFileWhole(file.newFile, file.newSize, feed, &encoded);
    if (!Encoded(status, file.shownPath, file.oldSize, file.newSize)) return false;
    const bool delta = encoded.descriptor.coding == EntryCoding::Delta;
    encoded.descriptor.kind = EntryKind::PathFile;
    encoded.descriptor.path = file.path;
    if (delta) encoded.descriptor.sourcePath = file.sourcePath;
    DiffRow row = Row(file.shownPath, encoded);
    row.hasNewSize = true;
    row.newSize = file.newSize;
    if (file.change == TreeChange::Changed || delta) {
      row.action = delta ? "delta" : "whole";
      row.hasOldSize = true;
      row.oldSize = file.oldSize;
      if (delta) row.from = file.sourceShown;
    } else {
      row.action = "new";
    }
    return Write(DescriptorEntryName(file.path), encoded, row);
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
  // whether the player's copy is still the one to remove.
  bool Remove(const ChangedFile& file) {
    EncodedEntry encoded;
    uint64_t size = 0;
    if (!DigestFile(file.oldFile, &size, encoded.descriptor.sourceMd5) || size != file.oldSize) {
      err_ << "mkpatch: " << file.oldFile << " changed or vanished while building\n";
      return false;
    }
    encoded.descriptor.kind = EntryKind::Removal;
    encoded.descriptor.coding = EntryCoding::Stored;
    encoded.descriptor.sourceSize = size;
    encoded.descriptor.path = file.path;
    DiffRow row = Row(file.shownPath, encoded);
    row.action = "removed";
    row.coded = false;
    row.hasOldSize = true;
    row.oldSize = file.oldSize;
    return Write(DescriptorEntryName(file.path), encoded, row);
  }

  std::vector<DiffRow> TakeRows() { return std::move(rows_); }

 private:
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
    row.shipped = PATCH_ENTRY_HEADER_SIZE + EncodeEntryDescriptor(encoded.descriptor).size() +
                  encoded.stored.size();
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
  PayloadWriter& writer_;
  ProgressBar& progress_;
  std::ostream& err_;
  std::vector<DiffRow> rows_;
};

}  // namespace

int RunDiff(const Options& options, std::ostream& out, std::ostream& err) {
  if (!CheckBuildVersions(options.baseVersion, options.targetVersion, err)) return 1;
  TreeDiff diff;
  std::vector<std::string> problems;
  const bool treesSound = DiffTrees(options.oldDir, options.newDir, &diff, &problems);
  for (const std::string& note : diff.notes) err << "mkpatch: " << note << "\n";
  for (const std::string& problem : problems) err << "mkpatch: " << problem << "\n";
  std::vector<Package> packages;
  if (!PlanPackages(options.packages, &packages, err) || !treesSound) return 1;

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
  std::vector<DiffRow> rows;
  {
    uint64_t work = 0;
    for (const ChangedFile& file : diff.shipped) work += file.newSize;
    for (const Package& package : packages) work += package.size;
    ProgressBar progress("diffing", work);  // gone before the summary is printed
    ProgressBar quiet("", 0);               // the stub is copied in no time
    if (!writer.CopyStub(stub.Get(), stubPlan, quiet)) {
      err << "mkpatch: writing " << options.output << " failed\n";
      return 1;
    }
    DiffWriter entries(options, writer, progress, err);
    for (const ChangedFile& file : diff.shipped) {
      if (!entries.Ship(file)) return 1;
    }
    for (const Package& package : packages) {
      if (!entries.Ship(package)) return 1;
    }
    for (const ChangedFile& file : diff.removed) {
      if (!entries.Remove(file)) return 1;
    }
    rows = entries.TakeRows();
  }

  DiffReport report;
  report.output = options.output;
  report.baseVersion = options.baseVersion;
  report.targetVersion = options.targetVersion;
  report.rows = std::move(rows);
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
