#include "mkpatch/commands/extract_command.h"

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
#include "mkpatch/inspect/install_target.h"
#include "mkpatch/inspect/payload_check.h"
#include "mkpatch/write/file_encoding.h"
#include "mkpatch/write/progress_bar.h"
#include "update/format/payload_digest.h"

namespace {

// A name or path from the payload (GBK, '\\' or '/' between parts) as a
// local UTF-8 path below `directory`.
bool LocalPath(const std::string& directory, const std::string& gbkName, std::string* path) {
  std::string utf8;
  if (!GbkToUtf8(gbkName, &utf8)) return false;
  for (char& c : utf8) {
    if (c == '\\') c = '/';  // safe: UTF-8 never has 0x5C inside a character
  }
  *path = JoinPath(directory, utf8);
  return true;
}

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

// The installed file a delta applies to, checked against the size and MD5
// its descriptor records. Empty, or why it cannot be used.
std::string CheckDeltaSource(const std::string& baseDir, const EntryDetail& detail,
                             std::string* local) {
  const EntryDescriptor& d = detail.descriptor;
  // A renamed file's delta applies to the file at its old path.
  const std::string& sourcePath = d.sourcePath.empty() ? d.path : d.sourcePath;
  const std::string shown = GbkForDisplay(sourcePath);
  if (baseDir.empty()) {
    return GbkForDisplay(d.path) +
           " is a delta against the installed file; extract needs --base-dir GAMEDIR";
  }
  const GamePath found = FindGamePath(baseDir, sourcePath);
  *local = found.local;
  if (found.state == GamePathState::Link) return found.local + " is a symbolic link";
  if (found.state != GamePathState::File) return "no file " + shown + " in " + baseDir;
  uint64_t size = 0;
  unsigned char md5[ENTRY_DIGEST_SIZE];
  if (!DigestFile(found.local, &size, md5)) return "cannot read " + found.local;
  if (size != d.sourceSize || std::memcmp(md5, d.sourceMd5, ENTRY_DIGEST_SIZE) != 0) {
    return found.local + " is not the file the delta was made from (" + std::to_string(size) +
           " bytes, md5 " + DigestHex(md5) + "; the delta needs " + std::to_string(d.sourceSize) +
           " bytes, md5 " + DigestHex(d.sourceMd5) + ")";
  }
  return "";
}

class Extractor {
 public:
  Extractor(FILE* updater, uint64_t size, const Options& options, std::ostream& err)
      : source_(updater, size), options_(options), err_(err) {}

  // Every delta's installed file checked before anything is written.
  bool CheckSources(const PayloadReport& report) {
    bool sound = true;
    sources_.assign(report.details.size(), "");
    for (size_t i = 0; i < report.details.size(); ++i) {
      const EntryDetail& detail = report.details[i];
      if (CodingOf(detail) != EntryCoding::Delta) continue;
      const std::string problem = CheckDeltaSource(options_.baseDir, detail, &sources_[i]);
      if (!problem.empty()) {
        err_ << "mkpatch: " << problem << "\n";
        sound = false;
      }
    }
    return sound;
  }

  bool Extract(size_t index, const PayloadEntry& entry, const EntryDetail& detail,
               ProgressBar& progress) {
    const EntryKind kind = InstallKindOf(entry, detail);
    const bool atPath = kind == EntryKind::PathFile;
    std::string path;
    if (!LocalPath(options_.directory, atPath ? detail.descriptor.path : entry.name, &path)) {
      err_ << "mkpatch: entry " << Shown(entry, detail) << " is not code page 936 text\n";
      return false;
    }
    UniqueFile installed;
    uint64_t installedSize = 0;
    if (!sources_[index].empty()) {
      installed = OpenFile(sources_[index], "rb");
      if (!installed || !FileSize(installed.Get(), &installedSize)) {
        err_ << "mkpatch: cannot read " << sources_[index] << "\n";
        return false;
      }
    }
    FileByteSource installedSource(installed.Get(), installedSize);
    // Written beside its place and moved there whole: a delta may be
    // extracted over the very file it applies to.
    if (!MakeDirectories(ParentDirectory(path))) return CannotWrite(path);
    TempOutput output(path);
    if (!output.Get()) return CannotWrite(path);
    FileSink sink(output.Get(), progress);
    unsigned char md5[ENTRY_DIGEST_SIZE];
    const DecodeError error =
        DecodeEntry(source_, entry, detail, installed ? &installedSource : nullptr, &sink, md5);
    if (error == DecodeError::SinkFailed) return CannotWrite(path);
    if (error != DecodeError::None) {
      err_ << "mkpatch: entry " << Shown(entry, detail)
           << " cannot be decoded: " << DecodeErrorText(error) << "\n";
      return false;
    }
    if (detail.HasDescriptor() &&
        std::memcmp(md5, detail.descriptor.decodedMd5, ENTRY_DIGEST_SIZE) != 0) {
      err_ << "mkpatch: entry " << Shown(entry, detail) << " decodes to MD5 " << DigestHex(md5)
           << ", its descriptor records " << DigestHex(detail.descriptor.decodedMd5) << "\n";
      return false;
    }
    installed.Reset();  // before the result may replace it
    return output.Commit() || CannotWrite(path);
  }

 private:
  bool CannotWrite(const std::string& path) {
    err_ << "mkpatch: cannot write " << path << "\n";
    return false;
  }

  FileByteSource source_;
  const Options& options_;
  std::ostream& err_;
  std::vector<std::string> sources_;  // per entry: a delta's installed file
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
  Extractor extractor(file.Get(), size, options, err);
  if (!extractor.CheckSources(report)) return 1;
  uint64_t total = 0;
  for (size_t i = 0; i < report.details.size(); ++i) {
    total += DecodedSize(report.table.entries[i], report.details[i]);
  }
  size_t written = 0;
  {
    ProgressBar progress("extracting", total);
    for (size_t i = 0; i < report.details.size(); ++i) {
      const PayloadEntry& entry = report.table.entries[i];
      const EntryDetail& detail = report.details[i];
      if (InstallKindOf(entry, detail) == EntryKind::Removal) continue;
      if (!extractor.Extract(i, entry, detail, progress)) return 1;
      ++written;
    }
  }
  for (size_t i = 0; i < report.details.size(); ++i) {
    const EntryDetail& detail = report.details[i];
    if (InstallKindOf(report.table.entries[i], detail) != EntryKind::Removal) continue;
    out << "remove " << GbkForDisplay(detail.descriptor.path) << " (when it holds "
        << detail.descriptor.sourceSize << " bytes, md5 " << DigestHex(detail.descriptor.sourceMd5)
        << ")\n";
  }
  out << "extracted " << written << " entries to " << options.directory << "\n";
  return 0;
}
