#include "extract_command.h"

#include <string>
#include <vector>

#include "file_source.h"
#include "file_system.h"
#include "name_encoding.h"
#include "payload_check.h"
#include "progress_bar.h"

namespace {

// The entry name (GBK, '\\' or '/' between parts) as a local UTF-8 path.
bool LocalPath(const std::string& directory, const std::string& gbkName, std::string* path) {
  std::string utf8;
  if (!GbkToUtf8(gbkName, &utf8)) return false;
  for (char& c : utf8) {
    if (c == '\\') c = '/';  // safe: UTF-8 never has 0x5C inside a character
  }
  *path = JoinPath(directory, utf8);
  return true;
}

bool CopyEntry(FILE* from, const PayloadEntry& entry, const std::string& path,
               ProgressBar& progress) {
  UniqueFile to = OpenFile(path, "wb");
  if (!to || !SeekTo(from, entry.dataOffset)) return false;
  std::vector<unsigned char> chunk(1 << 16);
  uint64_t left = entry.size;
  while (left > 0) {
    size_t want = left < chunk.size() ? static_cast<size_t>(left) : chunk.size();
    if (std::fread(chunk.data(), 1, want, from) != want) return false;
    if (std::fwrite(chunk.data(), 1, want, to.Get()) != want) return false;
    left -= want;
    progress.Advance(want);
  }
  bool flushed = std::fflush(to.Get()) == 0;
  return to.Close() && flushed;
}

}  // namespace

int RunExtract(const Options& options, std::ostream& out, std::ostream& err) {
  UniqueFile file = OpenFile(options.file, "rb");
  uint64_t size = 0;
  if (!file || !FileSize(file.Get(), &size)) {
    err << "mkpatch: cannot open " << options.file << "\n";
    return 1;
  }
  FilePayloadSource source(file.Get(), size);
  PayloadReport report = InspectPayload(source);
  if (!report.Readable()) {
    for (const std::string& problem : report.structuralProblems) {
      err << "mkpatch: " << options.file << ": " << problem << "\n";
    }
    return 1;
  }
  uint64_t total = 0;
  for (const PayloadEntry& entry : report.table.entries) total += entry.size;
  ProgressBar progress("extracting", total);
  for (const PayloadEntry& entry : report.table.entries) {
    std::string path;
    if (!LocalPath(options.directory, entry.name, &path)) {
      err << "mkpatch: entry " << GbkForDisplay(entry.name) << " is not code page 936 text\n";
      return 1;
    }
    if (!MakeDirectories(ParentDirectory(path)) || !CopyEntry(file.Get(), entry, path, progress)) {
      err << "mkpatch: cannot write " << path << "\n";
      return 1;
    }
  }
  out << "extracted " << report.table.entries.size() << " entries to " << options.directory << "\n";
  return 0;
}
