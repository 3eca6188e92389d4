#include "build_command.h"

#include <cstring>
#include <string>
#include <vector>

#include "entry_plan.h"
#include "file_source.h"
#include "file_system.h"
#include "install_target.h"
#include "md5.h"
#include "payload.h"
#include "payload_digest.h"
#include "progress_bar.h"
#include "signed_image.h"
#include "version_gate.h"

namespace {

// The updater handles positions as signed 32-bit file positions.
const uint64_t kSizeLimit = uint64_t(1) << 31;

// A file next to the output that becomes the output only on Commit; removed
// otherwise, so that a failed build leaves nothing behind.
class TempOutput {
 public:
  explicit TempOutput(const std::string& target) : target_(target) {
    for (int attempt = 0; attempt < 100 && !file_; ++attempt) {
      path_ = target + ".tmp" + std::to_string(attempt);
      file_ = OpenFile(path_, "wbx");  // never clobber someone else's file
    }
    created_ = file_.IsValid();
  }
  ~TempOutput() {
    file_.Reset();
    if (created_ && !committed_) RemoveFile(path_);
  }
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;

  FILE* Get() const { return file_.Get(); }
  bool Commit() {
    bool written = std::fflush(file_.Get()) == 0 && !std::ferror(file_.Get());
    bool closed = file_.Close();
    if (!written || !closed || !MoveFileOnto(path_, target_)) return false;
    committed_ = true;
    return true;
  }

 private:
  std::string target_;
  std::string path_;
  UniqueFile file_;
  bool created_ = false;
  bool committed_ = false;
};

bool CheckVersions(const Options& options, std::ostream& err) {
  bool sound = true;
  for (const std::string* version : {&options.baseVersion, &options.targetVersion}) {
    if (!IsWellFormedVersion(version->c_str())) {
      err << "mkpatch: version \"" << *version
          << "\" is not four decimal numbers like 1.4.1.34242\n";
      sound = false;
    }
  }
  if (!sound) return false;
  for (const std::string* version : {&options.baseVersion, &options.targetVersion}) {
    // The field would cut it silently into some other version.
    if (version->size() >= PATCH_VERSION_FIELD_SIZE) {
      err << "mkpatch: version \"" << *version << "\" is longer than "
          << PATCH_VERSION_FIELD_SIZE - 1 << " bytes\n";
      sound = false;
    }
  }
  if (!sound) return false;
  uint32_t base = 0, target = 0;
  ParseVersionValue(options.baseVersion.c_str(), &base);
  ParseVersionValue(options.targetVersion.c_str(), &target);
  if (base > target) {
    err << "mkpatch: base version " << options.baseVersion << " is above target version "
        << options.targetVersion << " as the updater compares them (" << base << " > " << target
        << ")\n";
    return false;
  }
  return true;
}

// What of the stub goes into the output.
struct StubPlan {
  uint64_t keep = 0;  // leading bytes copied
  // The file offset of a certificate directory entry to clear, or 0.
  uint64_t clearSignatureEntry = 0;
};

// How many leading bytes of the stub to keep: the old payload is cut off when
// --replace-payload allows it, and a signature always: the appended payload
// would break it (the release engineer signs the finished updater instead).
bool MeasureStub(const Options& options, FILE* stub, StubPlan* plan, std::ostream& err) {
  uint64_t size = 0;
  if (!FileSize(stub, &size)) {
    err << "mkpatch: cannot read stub " << options.stub << "\n";
    return false;
  }
  FilePayloadSource file(stub, size);
  const uint64_t end = PayloadEnd(file, ReadPeSignature(file));
  BoundedPayloadSource source(file, end);
  plan->keep = end;
  PatchTrailer trailer;
  uint32_t got = 0;
  if (ReadTrailer(source, &trailer, &got) && IsTrailerSound(trailer, end)) {
    if (!options.replacePayload) {
      err << "mkpatch: stub " << options.stub
          << " already carries a payload (use --replace-payload to replace it)\n";
      return false;
    }
    if (trailer.firstEntryOffset > end - PATCH_TRAILER_SIZE) {
      err << "mkpatch: the stub's old payload is damaged; cannot tell where it begins\n";
      return false;
    }
    plan->keep = trailer.firstEntryOffset;
  }
  // A table that ends the kept bytes goes with its padding; the entry goes
  // whether or not its table survives the cut, since the output cannot carry
  // the signature it names.
  BoundedPayloadSource kept(file, plan->keep);
  const PeSignature signature = ReadPeSignature(kept);
  plan->keep = UnsignedImageEnd(kept, signature);
  const bool hasEntry = signature.tableOffset != 0 || signature.tableSize != 0;
  if (signature.headersSound && hasEntry && signature.directoryEntryOffset + 8 <= plan->keep) {
    plan->clearSignatureEntry = signature.directoryEntryOffset;
    err << "mkpatch: stub " << options.stub << " carries a signature (certificate table of "
        << signature.tableSize << " bytes at byte " << signature.tableOffset
        << "); the payload would break it, so it is removed: sign the finished updater "
           "(see docs/signing.md)\n";
  }
  return true;
}

// An updater installs every plain file into the game directory under the last
// part of its name, so two such entries can overwrite each other. A bare
// package is exempt: the launcher unpacks it with its directories.
bool CheckInstallTargets(const std::vector<PlannedEntry>& entries, std::ostream& err) {
  std::vector<std::string> names;
  for (const PlannedEntry& entry : entries) names.push_back(entry.name);
  std::vector<std::string> clashes = FindInstallClashes(names);
  for (const std::string& clash : clashes) err << "mkpatch: " << clash << "\n";
  if (!clashes.empty()) return false;
  for (const std::string& note : DirectoryPartNotes(names)) {
    err << "mkpatch: warning: " << note << "\n";
  }
  return true;
}

// `digest`, when given, takes in every byte written: the entry region is
// hashed on its way out, so the record costs no second pass.
bool CopyBytes(FILE* from, FILE* to, uint64_t length, ProgressBar& progress, MD5* digest) {
  std::vector<unsigned char> chunk(1 << 16);
  while (length > 0) {
    size_t want = length < chunk.size() ? static_cast<size_t>(length) : chunk.size();
    if (std::fread(chunk.data(), 1, want, from) != want) return false;
    if (std::fwrite(chunk.data(), 1, want, to) != want) return false;
    if (digest) digest->update(chunk.data(), static_cast<uint32_t>(want));
    length -= want;
    progress.Advance(want);
  }
  return true;
}

// Copies the stub's kept bytes, with its certificate directory entry cleared.
bool CopyStub(FILE* stub, FILE* to, const StubPlan& plan, ProgressBar& progress) {
  if (!SeekTo(stub, 0) || !CopyBytes(stub, to, plan.keep, progress, nullptr)) return false;
  if (plan.clearSignatureEntry == 0) return true;
  const unsigned char zeros[8] = {};
  return SeekTo(to, plan.clearSignatureEntry) &&
         std::fwrite(zeros, 1, sizeof zeros, to) == sizeof zeros && SeekTo(to, plan.keep);
}

bool WriteHeader(FILE* to, const PlannedEntry& entry, MD5& digest) {
  PatchEntryHeader header;
  std::memset(&header, 0, sizeof header);
  std::memcpy(header.name, entry.name.data(), entry.name.size());
  header.size = static_cast<uint32_t>(entry.size);
  unsigned char bytes[PATCH_ENTRY_HEADER_SIZE];
  EncodeEntryHeader(header, bytes);
  digest.update(bytes, sizeof bytes);
  return std::fwrite(bytes, 1, sizeof bytes, to) == sizeof bytes;
}

// With the digest record when the target version leaves room for it.
bool WriteTrailer(FILE* to, const Options& options, uint64_t stubBytes, size_t entryCount,
                  uint64_t total, const unsigned char (&digest)[PAYLOAD_DIGEST_SIZE]) {
  PatchTrailer trailer;
  std::memset(&trailer, 0, sizeof trailer);
  trailer.magic = PATCH_TRAILER_MAGIC;
  trailer.firstEntryOffset = static_cast<uint32_t>(stubBytes);
  trailer.entryCount = static_cast<uint32_t>(entryCount);
  trailer.totalFileSize = static_cast<uint32_t>(total);
  std::snprintf(trailer.baseVersion, sizeof trailer.baseVersion, "%s", options.baseVersion.c_str());
  std::snprintf(trailer.targetVersion, sizeof trailer.targetVersion, "%s",
                options.targetVersion.c_str());
  WriteDigestRecord(&trailer, digest);
  unsigned char bytes[PATCH_TRAILER_SIZE];
  EncodeTrailer(trailer, bytes);
  return std::fwrite(bytes, 1, sizeof bytes, to) == sizeof bytes;
}

}  // namespace

int RunBuild(const Options& options, std::ostream& out, std::ostream& err) {
  if (!CheckVersions(options, err)) return 1;
  if (options.targetVersion.size() > PAYLOAD_DIGEST_MAX_VERSION) {
    err << "mkpatch: target version \"" << options.targetVersion << "\" is longer than "
        << PAYLOAD_DIGEST_MAX_VERSION
        << " bytes: no room for the payload digest after it; building without one\n";
  }

  std::vector<PlannedEntry> entries;
  std::vector<std::string> problems;
  if (!PlanEntries(options.inputs, &entries, &problems)) {
    for (const std::string& problem : problems) err << "mkpatch: " << problem << "\n";
    return 1;
  }
  if (!options.stub.empty() && !CheckInstallTargets(entries, err)) return 1;

  UniqueFile stub;
  StubPlan stubPlan;
  if (!options.stub.empty()) {
    stub = OpenFile(options.stub, "rb");
    if (!stub) {
      err << "mkpatch: cannot open stub " << options.stub << "\n";
      return 1;
    }
    if (!MeasureStub(options, stub.Get(), &stubPlan, err)) return 1;
  }
  const uint64_t stubBytes = stubPlan.keep;

  uint64_t total = stubBytes + PATCH_TRAILER_SIZE;
  for (const PlannedEntry& entry : entries) total += PATCH_ENTRY_HEADER_SIZE + entry.size;
  if (total >= kSizeLimit) {
    err << "mkpatch: the result would be " << total
        << " bytes; the updater needs less than 2 GiB\n";
    return 1;
  }

  TempOutput output(options.output);
  if (!output.Get()) {
    err << "mkpatch: cannot create a file next to " << options.output << "\n";
    return 1;
  }
  ProgressBar progress("building", total);
  bool written = !stub || CopyStub(stub.Get(), output.Get(), stubPlan, progress);
  MD5 digest;
  for (size_t i = 0; written && i < entries.size(); ++i) {
    UniqueFile input = OpenFile(entries[i].path, "rb");
    uint64_t sizeNow = 0;
    if (!input || !FileSize(input.Get(), &sizeNow) || sizeNow != entries[i].size) {
      err << "mkpatch: " << entries[i].path << " changed or vanished while building\n";
      return 1;
    }
    written = WriteHeader(output.Get(), entries[i], digest) &&
              CopyBytes(input.Get(), output.Get(), entries[i].size, progress, &digest);
  }
  digest.finalize();
  unsigned char raw[PAYLOAD_DIGEST_SIZE];
  std::memcpy(raw, digest.raw_digest().data(), sizeof raw);
  written = written && WriteTrailer(output.Get(), options, stubBytes, entries.size(), total, raw);
  if (!written || !output.Commit()) {
    err << "mkpatch: writing " << options.output << " failed\n";
    return 1;
  }
  out << "wrote " << options.output << ": " << entries.size() << " entries, " << total << " bytes, "
      << options.baseVersion << " -> " << options.targetVersion << "\n";
  return 0;
}
