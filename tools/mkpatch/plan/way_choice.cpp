#include "mkpatch/plan/way_choice.h"

#include <cstring>

#include "update/format/payload.h"

namespace {

CodedSize SizeOf(const EncodedEntry& encoded) {
  return CodedSize{encoded.descriptor.coding, encoded.stored.size()};
}

// A file with one old content and every build reached by it ships as a
// patch from one old build always did: that content's encoding, delta or
// whole, alone.
bool IsSimple(const ShippedFile& file, const WayOptions& options) {
  return file.contents.size() == 1 && file.unreached == 0 && !options.repair;
}

bool NeedsWhole(const ShippedFile& file, const WayOptions& options) {
  return file.contents.empty() || !IsSimple(file, options);
}

class WayChooser {
 public:
  WayChooser(const ShippedFile& file, const WayOptions& options, EncodingLedger* ledger,
             const EncodeProgress& progress)
      : file_(file), options_(options), ledger_(ledger), progress_(progress) {}

  EncodeStatus Choose(FileWays* ways) {
    *ways = FileWays();
    if (file_.contents.empty()) return Whole(file_.unreached, ways);
    // Each content's delta to the new bytes, and its step to the next
    // build's bytes; the cheaper of the two where both are deltas.
    std::vector<PlannedWay> best(file_.contents.size());
    bool reachesAll = file_.unreached == 0;
    for (size_t i = 0; i < file_.contents.size(); ++i) {
      const OldContent& content = file_.contents[i];
      PlannedWay direct;
      if (EncodeStatus status = Change(i, false, &direct); status != EncodeStatus::Done) {
        return status;
      }
      if (IsSimple(file_, options_)) {
        if (ShipsAsNew(content.bySimilarity, direct.encoded.descriptor.coding)) {
          return Whole(content.builds, ways);
        }
        if (direct.encoded.descriptor.coding != EntryCoding::Delta) {
          direct.content = -1;
          direct.wholeFor = content.builds;
        }
        ways->entries.push_back(std::move(direct));
        return EncodeStatus::Done;
      }
      if (direct.encoded.descriptor.coding == EntryCoding::Delta) {
        best[i] = std::move(direct);
      } else {
        KeepWhole(std::move(direct));
      }
      if (content.next >= 0) {
        PlannedWay step;
        if (EncodeStatus status = Change(i, true, &step); status != EncodeStatus::Done) {
          return status;
        }
        if (step.encoded.descriptor.coding == EntryCoding::Delta &&
            (best[i].content < 0 || step.shipped < best[i].shipped)) {
          best[i] = std::move(step);
        }
      }
      if (best[i].content < 0) reachesAll = false;
    }
    if (reachesAll) {
      for (const PlannedWay& way : best) ways->deltaBytes += way.shipped;
    }
    // The whole file is the one way that reaches a build without a delta,
    // and may undercut the deltas together.
    if (EncodeStatus status = MakeWhole(); status != EncodeStatus::Done) return status;
    const uint32_t allBuilds = AllReachedBuilds();
    if (reachesAll && !options_.repair && ways->deltaBytes < whole_.shipped) {
      for (PlannedWay& way : best) ways->entries.push_back(std::move(way));
      return EncodeStatus::Done;
    }
    ways->repaired = options_.repair && reachesAll && ways->deltaBytes < whole_.shipped;
    whole_.wholeFor = allBuilds;
    ways->entries.push_back(std::move(whole_));
    return EncodeStatus::Done;
  }

 private:
  // Every old build that does not hold the new bytes already.
  uint32_t AllReachedBuilds() const {
    uint32_t builds = file_.unreached;
    for (const OldContent& content : file_.contents) builds |= content.builds;
    return builds;
  }

  void Describe(PlannedWay* way) const {
    EntryDescriptor& d = way->encoded.descriptor;
    d.kind = EntryKind::PathFile;
    d.path = file_.path;
    if (d.coding == EntryCoding::Delta) {
      const OldContent& content = file_.contents[way->content];
      if (!content.ownPath) d.sourcePath = content.path;
      if (options_.namesBuilds) d.sourceBuilds = content.builds;
      if (way->step) d.flags = ENTRY_FLAG_STEP;
    }
    way->shipped = ShippedBytes(d, way->encoded.stored.size());
  }

  // Content `index`'s delta to the new bytes, or with `step` to its next.
  EncodeStatus Change(size_t index, bool step, PlannedWay* way) {
    const OldContent& from = file_.contents[index];
    const std::string* toLocal = &file_.local;
    uint64_t toSize = file_.size;
    const unsigned char* toMd5 = file_.md5;
    if (step) {
      const OldContent& next = file_.contents[from.next];
      toLocal = &next.local;
      toSize = next.size;
      toMd5 = next.md5;
    }
    const EncodeStatus status =
        EncodeFileChange(from.local, from.size, *toLocal, toSize, Feed(toSize), &way->encoded);
    if (status != EncodeStatus::Done) return status;
    unsigned char to[16];
    std::memcpy(to, toMd5, sizeof to);
    ledger_->RecordChange(ContentKey(from.size, from.md5), ContentKey(toSize, to),
                          SizeOf(way->encoded));
    way->content = static_cast<int>(index);
    way->step = step;
    Describe(way);
    return EncodeStatus::Done;
  }

  // The smallest whole encoding of the new bytes seen, from a content's
  // change that came out whole.
  void KeepWhole(PlannedWay way) {
    way.content = -1;
    way.step = false;
    way.encoded.descriptor.sourcePath.clear();
    way.encoded.descriptor.sourceBuilds = 0;
    way.encoded.descriptor.flags = 0;
    way.shipped = ShippedBytes(way.encoded.descriptor, way.encoded.stored.size());
    if (!haveWhole_ || way.shipped < whole_.shipped) {
      whole_ = std::move(way);
      haveWhole_ = true;
    }
  }

  EncodeStatus MakeWhole() {
    if (haveWhole_) return EncodeStatus::Done;
    PlannedWay way;
    const EncodeStatus status =
        EncodeFileWhole(file_.local, file_.size, Feed(file_.size), &way.encoded);
    if (status != EncodeStatus::Done) return status;
    unsigned char md5[16];
    std::memcpy(md5, file_.md5, sizeof md5);
    ledger_->RecordWhole(ContentKey(file_.size, md5), SizeOf(way.encoded));
    Describe(&way);
    whole_ = std::move(way);
    haveWhole_ = true;
    return EncodeStatus::Done;
  }

  EncodeStatus Whole(uint32_t builds, FileWays* ways) {
    if (EncodeStatus status = MakeWhole(); status != EncodeStatus::Done) return status;
    whole_.wholeFor = builds;
    ways->entries.push_back(std::move(whole_));
    return EncodeStatus::Done;
  }

  // Progress through this file's encodings, one after the other.
  EncodeProgress Feed(uint64_t size) {
    const uint64_t before = done_;
    done_ += size;
    return [this, before](uint64_t done, uint64_t) {
      if (progress_) progress_(before + done, 0);
    };
  }

  const ShippedFile& file_;
  const WayOptions& options_;
  EncodingLedger* ledger_;
  const EncodeProgress& progress_;
  uint64_t done_ = 0;
  PlannedWay whole_;
  bool haveWhole_ = false;
};

}  // namespace

std::string ContentKey(uint64_t size, const unsigned char (&md5)[16]) {
  std::string key(reinterpret_cast<const char*>(md5), 16);
  for (int i = 0; i < 8; ++i) key.push_back(static_cast<char>(size >> (8 * i)));
  return key;
}

void EncodingLedger::RecordChange(const std::string& from, const std::string& to,
                                  const CodedSize& coded) {
  changes_[from + to] = coded;
}

bool EncodingLedger::FindChange(const std::string& from, const std::string& to,
                                CodedSize* coded) const {
  auto found = changes_.find(from + to);
  if (found == changes_.end()) return false;
  *coded = found->second;
  return true;
}

void EncodingLedger::RecordWhole(const std::string& of, const CodedSize& coded) {
  wholes_[of] = coded;
}

bool EncodingLedger::FindWhole(const std::string& of, CodedSize* coded) const {
  auto found = wholes_.find(of);
  if (found == wholes_.end()) return false;
  *coded = found->second;
  return true;
}

uint64_t ShippedBytes(const EntryDescriptor& descriptor, uint64_t stored) {
  return PATCH_ENTRY_HEADER_SIZE + EncodeEntryDescriptor(descriptor).size() + stored;
}

EncodeStatus ChooseWays(const ShippedFile& file, const WayOptions& options, EncodingLedger* ledger,
                        const EncodeProgress& progress, FileWays* ways) {
  return WayChooser(file, options, ledger, progress).Choose(ways);
}

uint64_t EncodingWork(const ShippedFile& file, const WayOptions& options) {
  uint64_t work = file.size * file.contents.size();
  if (!IsSimple(file, options)) {
    for (const OldContent& content : file.contents) {
      if (content.next >= 0) work += file.contents[content.next].size;
    }
  }
  if (NeedsWhole(file, options)) work += file.size;
  return work;
}
