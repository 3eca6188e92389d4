#include "mkpatch/plan/patch_comparison.h"

#include <cstring>

namespace {

class PairPatchSizer {
 public:
  PairPatchSizer(EncodingLedger* ledger, const EncodeProgress& progress)
      : ledger_(ledger), progress_(progress) {}

  // The entries of a patch from one old build, as the diff writes them.
  bool Size(const BuildsDiff& diff, uint64_t* bytes, std::string* error) {
    *bytes = 0;
    for (const ShippedFile& file : diff.shipped) {
      uint64_t shipped = 0;
      if (!FileEntry(file, &shipped, error)) return false;
      *bytes += shipped;
    }
    for (const RemovedFile& file : diff.removed) {
      for (const OldContent& content : file.contents) {
        EntryDescriptor removal;
        removal.kind = EntryKind::Removal;
        removal.path = file.path;
        removal.sourceSize = content.size;
        *bytes += ShippedBytes(removal, 0);
      }
    }
    return true;
  }

 private:
  bool FileEntry(const ShippedFile& file, uint64_t* shipped, std::string* error) {
    EntryDescriptor d;
    d.kind = EntryKind::PathFile;
    d.path = file.path;
    d.decodedSize = file.size;
    CodedSize coded;
    if (!file.contents.empty()) {
      const OldContent& content = file.contents.front();
      if (!Change(content, file, &coded, error)) return false;
      d.sourceSize = content.size;
      if (coded.coding == EntryCoding::Delta) {
        if (!content.ownPath) d.sourcePath = content.path;
        *shipped = ShippedBytes(d, coded.stored);
        return true;
      }
      d.sourceSize = 0;
      if (!ShipsAsNew(content.bySimilarity, coded.coding)) {
        *shipped = ShippedBytes(d, coded.stored);
        return true;
      }
    }
    if (!Whole(file, &coded, error)) return false;
    *shipped = ShippedBytes(d, coded.stored);
    return true;
  }

  bool Change(const OldContent& from, const ShippedFile& to, CodedSize* coded, std::string* error) {
    unsigned char toMd5[16];
    std::memcpy(toMd5, to.md5, sizeof toMd5);
    const std::string fromKey = ContentKey(from.size, from.md5);
    const std::string toKey = ContentKey(to.size, toMd5);
    if (ledger_->FindChange(fromKey, toKey, coded)) return true;
    EncodedEntry encoded;
    const EncodeStatus status =
        EncodeFileChange(from.local, from.size, to.local, to.size, progress_, &encoded);
    if (status != EncodeStatus::Done) return Failed(status, to, error);
    *coded = CodedSize{encoded.descriptor.coding, encoded.stored.size()};
    ledger_->RecordChange(fromKey, toKey, *coded);
    return true;
  }

  bool Whole(const ShippedFile& file, CodedSize* coded, std::string* error) {
    unsigned char md5[16];
    std::memcpy(md5, file.md5, sizeof md5);
    const std::string key = ContentKey(file.size, md5);
    if (ledger_->FindWhole(key, coded)) return true;
    EncodedEntry encoded;
    const EncodeStatus status = EncodeFileWhole(file.local, file.size, progress_, &encoded);
    if (status != EncodeStatus::Done) return Failed(status, file, error);
    *coded = CodedSize{encoded.descriptor.coding, encoded.stored.size()};
    ledger_->RecordWhole(key, *coded);
    return true;
  }

  static bool Failed(EncodeStatus status, const ShippedFile& file, std::string* error) {
    *error =
        file.shown + (status == EncodeStatus::Unreadable ? " changed or vanished while building"
                                                         : " is too large to encode in memory");
    return false;
  }

  EncodingLedger* ledger_;
  const EncodeProgress& progress_;
};

}  // namespace

bool ComparePatches(ReleaseBuilds& builds, EncodingLedger* ledger, const EncodeProgress& progress,
                    PatchComparison* comparison, std::string* error) {
  *comparison = PatchComparison();
  PairPatchSizer sizer(ledger, progress);
  const size_t newBuild = builds.OldCount();
  for (size_t build = 0; build < builds.OldCount(); ++build) {
    for (size_t target : {build + 1, newBuild}) {
      // Each pair as its own patch would see it. A path of a middle build
      // that no entry could name only leaves that file out; a file that
      // cannot be read stops the comparison.
      std::vector<std::string> problems;
      BuildsDiff diff;
      uint64_t bytes = 0;
      if (!builds.Diff({build}, target, &diff, &problems)) {
        for (const std::string& problem : problems) {
          if (problem.compare(0, 12, "cannot read ") == 0) {
            *error = problem;
            return false;
          }
        }
      }
      if (!sizer.Size(diff, &bytes, error)) return false;
      if (target == build + 1) comparison->singleSteps += bytes;
      if (target == newBuild) comparison->direct += bytes;
      if (target == newBuild) break;
    }
  }
  return true;
}
