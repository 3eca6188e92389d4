#include "mkpatch/commands/extract_command.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "mkpatch/fs/file_digest.h"
#include "mkpatch/fs/file_source.h"
#include "mkpatch/fs/file_system.h"
#include "mkpatch/fs/game_path.h"
#include "mkpatch/fs/name_encoding.h"
#include "mkpatch/fs/temp_output.h"
#include "mkpatch/inspect/content_check.h"
#include "mkpatch/inspect/game_tree.h"
#include "mkpatch/inspect/install_target.h"
#include "mkpatch/inspect/payload_check.h"
#include "mkpatch/inspect/plan_reasons.h"
#include "mkpatch/write/file_encoding.h"
#include "mkpatch/write/progress_bar.h"
#include "update/format/entry_group.h"
#include "update/format/payload_digest.h"
#include "update/plan/install_plan.h"

namespace {

class FileSink : public DecodeSink {
 public:
  FileSink(FILE* file, ProgressBar& progress) : file_(file), progress_(progress) {}
  bool Write(const unsigned char* data, uint32_t length) override {
    progress_.Advance(length);
    return std::fwrite(data, 1, length, file_) == length;
  }

 private:
  FILE* file_;
  ProgressBar& progress_;
};

std::string Shown(const PayloadEntry& entry, const EntryDetail& detail) {
  const EntryKind kind = InstallKindOf(entry, detail);
  const bool atPath = kind == EntryKind::PathFile || kind == EntryKind::Removal;
  return GbkForDisplay(atPath ? detail.descriptor.path : entry.name);
}

// A game directory with nothing in it: without --base-dir every file's way
// is its whole entry, where it has one.
class NoGame : public InstalledGame {
 public:
  GamePathInfo Look(const std::string&, bool) override { return GamePathInfo(); }
  bool Digest(const std::string&, unsigned char (&)[16], uint32_t* error) override {
    *error = 0;
    return false;
  }
  bool HasLauncher() override { return false; }
};

// Several deltas of one file: the installed file matches none of them.
bool HasOtherDeltas(const PayloadReport& report, uint32_t index) {
  const EntryGroups groups = GroupEntries(report.table.entries, report.details);
  int deltas = 0;
  for (uint32_t i = groups.first[index]; i != NO_ENTRY; i = groups.next[i]) {
    const EntryDescriptor& d = report.details[i].descriptor;
    if (d.coding == EntryCoding::Delta && !d.IsStep()) ++deltas;
  }
  return deltas > 1;
}

// Why a file's way cannot be taken from the installed game, in extract's words.
std::string Refusal(const PlanProblem& problem, const PayloadReport& report,
                    const std::string& baseDir) {
  const EntryDescriptor& d = report.details[problem.entry].descriptor;
  const std::string shown = GbkForDisplay(problem.path);
  switch (problem.kind) {
    case PlanProblemKind::SourceMismatch: {
      if (baseDir.empty()) {
        return GbkForDisplay(d.path) +
               " is a delta against the installed file; extract needs --base-dir GAMEDIR";
      }
      if (problem.found.state != GamePathState::File) return "no file " + shown + " in " + baseDir;
      uint64_t size = 0;
      unsigned char md5[ENTRY_DIGEST_SIZE];
      if (!DigestFile(problem.found.local, &size, md5)) return "cannot read " + problem.found.local;
      const std::string found = std::to_string(size) + " bytes, md5 " + DigestHex(md5);
      if (HasOtherDeltas(report, problem.entry)) {
        return problem.found.local + " is none of the files the deltas were made from (" + found +
               ")";
      }
      return problem.found.local + " is not the file the delta was made from (" + found +
             "; the delta needs " + std::to_string(d.sourceSize) + " bytes, md5 " +
             DigestHex(d.sourceMd5) + ")";
    }
    case PlanProblemKind::Link:
      return problem.found.local + " is a symbolic link";
    case PlanProblemKind::SourceUnreadable:
      return "cannot read " + problem.found.local;
    default:
      return PlanReasons({{}, {problem}}, report.table.entries, report.details).front();
  }
}

// Whether an entry decoded to what its descriptor records (a plain entry
// records nothing).
bool CheckedMd5(const EntryDetail& detail, const unsigned char (&md5)[ENTRY_DIGEST_SIZE]) {
  return !detail.HasDescriptor() ||
         std::memcmp(md5, detail.descriptor.decodedMd5, ENTRY_DIGEST_SIZE) == 0;
}

class Extractor {
 public:
  Extractor(FILE* updater, uint64_t size, const Options& options, const PayloadReport& report,
            std::ostream& err)
      : source_(updater, size), options_(options), report_(report), err_(err) {}

  // Each file's way from the installed game (or, without one, its whole
  // entry), every source checked before anything is written.
  bool PlanWays() {
    GameTree game(options_.baseDir);
    NoGame none;
    InstalledGame& installed = options_.baseDir.empty() ? static_cast<InstalledGame&>(none)
                                                        : static_cast<InstalledGame&>(game);
    plan_ = PlanInstall(source_, report_.table.entries, report_.details, installed);
    bool sound = true;
    for (const PlanProblem& problem : plan_.problems) {
      if (!IsRefusal(problem.kind)) continue;
      err_ << "mkpatch: " << Refusal(problem, report_, options_.baseDir) << "\n";
      sound = false;
    }
    return sound;
  }

  // The entries this extraction writes: every entry but removals and the
  // list of builds, of a file only the entries of its way.
  bool Writes(size_t index) const {
    const EntryKind kind = InstallKindOf(report_.table.entries[index], report_.details[index]);
    if (kind == EntryKind::Removal || kind == EntryKind::BuildList) return false;
    return kind != EntryKind::PathFile || plan_.entries[index].startsWay;
  }

  // No entry is written through a link inside DIR, nor where a file
  // stands in the way of its folder: every output is looked at before the
  // first is written.
  bool CheckOutputs() const {
    bool sound = true;
    for (size_t i = 0; i < report_.details.size(); ++i) {
      if (!Writes(i)) continue;
      const GamePath output = OutputOf(i);
      if (output.state == GamePathState::Link) {
        err_ << "mkpatch: " << output.local
             << " is a symbolic link; extract never writes through a link\n";
        sound = false;
      } else if (output.state == GamePathState::Blocked) {
        err_ << "mkpatch: " << output.local << " is a file where "
             << Shown(report_.table.entries[i], report_.details[i]) << " needs a folder\n";
        sound = false;
      }
    }
    return sound;
  }

  // What decoding the way that starts at `index` makes.
  uint64_t WaySize(size_t index) const {
    uint64_t size = 0;
    for (uint32_t i = static_cast<uint32_t>(index); i != NO_ENTRY; i = plan_.entries[i].next) {
      size += DecodedSize(report_.table.entries[i], report_.details[i]);
    }
    return size;
  }

  // A file the installed game holds at its new bytes already.
  bool IsCurrent(size_t index) const {
    return InstallKindOf(report_.table.entries[index], report_.details[index]) ==
               EntryKind::PathFile &&
           plan_.entries[index].action == InstallAction::Same;
  }

  bool Extract(size_t index, ProgressBar& progress) {
    const PayloadEntry& entry = report_.table.entries[index];
    const EntryDetail& detail = report_.details[index];
    const EntryKind kind = InstallKindOf(entry, detail);
    const bool atPath = kind == EntryKind::PathFile;
    const GamePath found = OutputOf(index);
    if (found.state == GamePathState::Invalid) {
      err_ << "mkpatch: entry " << Shown(entry, detail) << " is not code page 936 text\n";
      return false;
    }
    const std::string& path = found.local;
    UniqueFile input;
    const PlannedEntry& planned = plan_.entries[index];
    if (atPath && detail.descriptor.coding == EntryCoding::Delta) {
      const std::string local = FindGamePath(options_.baseDir, planned.source).local;
      input = OpenFile(local, "rb");
      if (!input) {
        err_ << "mkpatch: cannot read " << local << "\n";
        return false;
      }
    }
    // Steps decode into files of their own, each read by the next entry.
    uint32_t at = static_cast<uint32_t>(index);
    for (; atPath && plan_.entries[at].next != NO_ENTRY; at = plan_.entries[at].next) {
      UniqueFile step(std::tmpfile());
      if (!step) return CannotWrite("a temporary file");
      if (!Decode(at, input.Get(), step.Get(), progress)) return false;
      std::rewind(step.Get());
      input = std::move(step);
    }
    // Written beside its place and moved there whole: a delta may be
    // extracted over the very file it applies to.
    if (!MakeDirectories(ParentDirectory(path))) return CannotWrite(path);
    TempOutput output(path);
    if (!output.Get()) return CannotWrite(path);
    if (!Decode(at, input.Get(), output.Get(), progress)) return false;
    input.Reset();  // before the result may replace it
    return output.Commit() || CannotWrite(path);
  }

 private:
  // Entry `index` from `installed` (null for a whole file) into `out`,
  // checked against the MD5 its descriptor records.
  bool Decode(uint32_t index, FILE* installed, FILE* out, ProgressBar& progress) {
    const PayloadEntry& entry = report_.table.entries[index];
    const EntryDetail& detail = report_.details[index];
    uint64_t installedSize = 0;
    if (installed != nullptr && !FileSize(installed, &installedSize)) {
      err_ << "mkpatch: cannot read the source of " << Shown(entry, detail) << "\n";
      return false;
    }
    FileByteSource installedSource(installed, installedSize);
    FileSink sink(out, progress);
    unsigned char md5[ENTRY_DIGEST_SIZE];
    const DecodeError error =
        DecodeEntry(source_, entry, detail, installed ? &installedSource : nullptr, &sink, md5);
    if (error == DecodeError::SinkFailed) return CannotWrite(Shown(entry, detail));
    if (error != DecodeError::None) {
      err_ << "mkpatch: entry " << Shown(entry, detail)
           << " cannot be decoded: " << DecodeErrorText(error) << "\n";
      return false;
    }
    if (!CheckedMd5(detail, md5)) {
      err_ << "mkpatch: entry " << Shown(entry, detail) << " decodes to MD5 " << DigestHex(md5)
           << ", its descriptor records " << DigestHex(detail.descriptor.decodedMd5) << "\n";
      return false;
    }
    return std::fflush(out) == 0 || CannotWrite(Shown(entry, detail));
  }

  // Where entry `index` goes below DIR, found as a game's file is: the parts
  // that exist there in their own spelling, whatever the case of the name's.
  GamePath OutputOf(size_t index) const {
    const PayloadEntry& entry = report_.table.entries[index];
    const EntryDetail& detail = report_.details[index];
    std::string name =
        InstallKindOf(entry, detail) == EntryKind::PathFile ? detail.descriptor.path : entry.name;
    std::replace(name.begin(), name.end(), '/', '\\');  // never a GBK trail byte
    return FindGamePath(options_.directory, name);
  }

  bool CannotWrite(const std::string& path) {
    err_ << "mkpatch: cannot write " << path << "\n";
    return false;
  }

  FileByteSource source_;
  const Options& options_;
  const PayloadReport& report_;
  std::ostream& err_;
  InstallPlan plan_;
};

}  // namespace

int RunExtract(const Options& options, std::ostream& out, std::ostream& err) {
  UniqueFile file = OpenFile(options.file, "rb");
  uint64_t size = 0;
  if (!file || !FileSize(file.Get(), &size)) {
    err << "mkpatch: cannot open " << options.file << "\n";
    return 1;
  }
  FileByteSource source(file.Get(), size);
  PayloadReport report = InspectPayload(source);
  if (!report.Readable()) {
    for (const std::string& problem : report.structuralProblems) {
      err << "mkpatch: " << options.file << ": " << problem << "\n";
    }
    return 1;
  }
  Extractor extractor(file.Get(), size, options, report, err);
  if (!extractor.PlanWays() || !extractor.CheckOutputs()) return 1;
  uint64_t total = 0;
  for (size_t i = 0; i < report.details.size(); ++i) {
    if (extractor.Writes(i)) total += extractor.WaySize(i);
  }
  size_t written = 0;
  {
    ProgressBar progress("extracting", total);
    for (size_t i = 0; i < report.details.size(); ++i) {
      if (!extractor.Writes(i)) continue;
      if (!extractor.Extract(i, progress)) return 1;
      ++written;
    }
  }
  for (size_t i = 0; i < report.details.size(); ++i) {
    const EntryDetail& detail = report.details[i];
    if (extractor.IsCurrent(i)) {
      out << "same " << GbkForDisplay(detail.descriptor.path)
          << " (the game holds its new bytes already)\n";
    }
    if (InstallKindOf(report.table.entries[i], detail) != EntryKind::Removal) continue;
    out << "remove " << GbkForDisplay(detail.descriptor.path) << " (when it holds "
        << detail.descriptor.sourceSize << " bytes, md5 " << DigestHex(detail.descriptor.sourceMd5)
        << ")\n";
  }
  out << "extracted " << written << " entries to " << options.directory << "\n";
  return 0;
}
