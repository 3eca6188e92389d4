#include "update/plan/install_plan.h"

#include <cstring>
#include <memory>
#include <new>

#include "update/base/gbk_text.h"
#include "update/base/md5.h"
#include "update/format/entry_group.h"

namespace {

constexpr uint32_t kDigestChunk = 64 * 1024;
constexpr uint64_t kMessageDigestLimit = uint64_t(64) << 20;

// A file's bytes as the run will find them, known by size and MD5. The MD5
// is taken only when a comparison needs it: from the installed file, or from
// a plain entry's data in the payload.
struct Content {
  bool exists = false;
  uint64_t size = 0;
  bool digestKnown = false;
  unsigned char md5[16] = {};
  const std::string* installed = nullptr;  // or the installed file at this path
  bool unknown = false;                    // there, but not even its size can be told
  uint32_t error = 0;                      // why, for `unknown`
  const PayloadEntry* data = nullptr;      // or a plain entry's data
};

Content KnownContent(uint64_t size, const unsigned char (&md5)[16]) {
  Content content;
  content.exists = true;
  content.size = size;
  content.digestKnown = true;
  std::memcpy(content.md5, md5, sizeof md5);
  return content;
}

// What an entry of the run leaves at a path it writes. Looked up from the
// last one back, by a hash of the folded path first: a few thousand entries
// cost no more than a map, and the updater carries no map's code.
struct Written {
  uint32_t hash = 0;
  std::string folded;
  uint32_t writer = 0;
  Content content;
};

uint32_t HashOf(const std::string& text) {
  uint32_t hash = 2166136261u;  // FNV-1a
  for (unsigned char c : text) hash = (hash ^ c) * 16777619u;
  return hash;
}

// kPredict: judge everything mkpatch check reports. The updater's checks use
// the planner without it, and its program holds none of that code.
template <bool kPredict>
class Planner {
 public:
  Planner(ByteSource& payload, const std::vector<PayloadEntry>& table,
          const std::vector<EntryDetail>& details, InstalledGame& game)
      : payload_(payload), table_(table), details_(details), game_(game) {}

  InstallPlan Plan() {
    plan_.entries = std::vector<PlannedEntry>(table_.size());
    groups_ = GroupEntries(table_, details_);
    for (uint32_t index = 0; index < table_.size(); ++index) PlanEntry(index);
    // Removals come after every other entry, as the run makes them.
    if (kPredict) {
      for (uint32_t index = 0; index < table_.size(); ++index) {
        if (plan_.entries[index].kind == EntryKind::Removal) JudgeRemoval(index);
      }
    }
    return std::move(plan_);
  }

 private:
  PlanProblem& Problem(PlanProblemKind kind, uint32_t entry, const std::string& path) {
    plan_.problems.emplace_back();
    PlanProblem& problem = plan_.problems.back();
    problem.kind = kind;
    problem.entry = entry;
    problem.path = path;
    return problem;
  }

  void PlanEntry(uint32_t index) {
    const PayloadEntry& entry = table_[index];
    const EntryDetail& detail = details_[index];
    PlannedEntry& planned = plan_.entries[index];
    planned.kind = InstallKindOf(entry, detail);
    planned.destination = DestinationOf(entry, detail);
    switch (planned.kind) {
      case EntryKind::Package:
        planned.action = InstallAction::Package;
        if (kPredict && !launcherChecked_ && !game_.HasLauncher()) {
          Problem(PlanProblemKind::NoLauncher, index, "");
        }
        launcherChecked_ = true;
        return;
      case EntryKind::PlainFile:
      case EntryKind::PathFile:
        if (!detail.HasDescriptor()) {
          PlanPlainEntry(index, planned);
        } else if (planned.kind == EntryKind::PlainFile) {
          PlanWholeFile(index, planned);
        } else if (groups_.first[index] == index) {
          // The file's other entries are planned with its first.
          PlanFile(index);
        }
        return;
      case EntryKind::Removal:
        planned.action = InstallAction::Gone;
        // The path is checked now, in the run's order; the file at its turn,
        // once every file is written.
        LookAtPath(index, planned.destination, false, &planned.action);
        return;
      case EntryKind::BuildList:
        planned.action = InstallAction::Skip;
        return;
    }
  }

  // A path the run writes or removes: one the updater cannot hold, or one
  // with a link on the way, refuses the run.
  GamePathInfo LookAtPath(uint32_t index, const std::string& path, bool written,
                          InstallAction* action) {
    const GamePathInfo info = game_.Look(path, written);
    if (info.state == GamePathState::TooLong) {
      Problem(PlanProblemKind::PathTooLong, index, path).found = info;
    } else if (info.state == GamePathState::Link) {
      Problem(PlanProblemKind::Link, index, path).found = info;
      *action = InstallAction::Link;
    } else if (info.state == GamePathState::Invalid && kPredict) {
      Problem(PlanProblemKind::NotGbk, index, path);
    }
    return info;
  }

  // What stands at `path` now: what an earlier entry writes there, or the
  // installed file. (Removals come last, so they have taken nothing yet.)
  // A plain entry is copied through a link as the system follows it.
  Content Current(const std::string& path, const GamePathInfo& info, const Written** earlier,
                  bool throughLinks = false) {
    if (const Written* found = LastWritten(path)) {
      *earlier = found;
      return found->content;
    }
    *earlier = nullptr;
    return Installed(path, info, throughLinks);
  }

  // The installed file at `path` (which outlives the content), as `info`
  // found it, to compare.
  static Content Installed(const std::string& path, const GamePathInfo& info, bool throughLinks) {
    Content content;
    if (info.state == GamePathState::Unreadable) {
      content.exists = true;
      content.unknown = true;
      content.error = info.lookError;
    } else if (info.state == GamePathState::File ||
               (throughLinks && info.state == GamePathState::Link && !info.linkIsDirectory)) {
      content.exists = true;
      content.size = info.size;
      content.installed = &path;
    }
    return content;
  }

  // The MD5 of `content`; false (with `error`) when its bytes cannot be read.
  bool Digest(Content& content, uint32_t* error) {
    if (content.digestKnown) return true;
    if (content.installed != nullptr) {
      if (!game_.Digest(*content.installed, content.md5, error)) return false;
    } else if (content.data != nullptr) {
      if (!DigestPayloadData(*content.data, content.md5)) {
        *error = 0;
        payloadUnreadable_ = true;
        return false;
      }
    }
    content.digestKnown = true;
    return true;
  }

  bool DigestPayloadData(const PayloadEntry& entry, unsigned char (&md5)[16]) {
    std::unique_ptr<unsigned char[]> chunk(new (std::nothrow) unsigned char[kDigestChunk]);
    if (!chunk) return false;
    MD5 digest;
    for (uint64_t done = 0; done < entry.size;) {
      const uint64_t left = entry.size - done;
      const uint32_t want = left < kDigestChunk ? static_cast<uint32_t>(left) : kDigestChunk;
      uint32_t got = 0;
      if (!payload_.ReadAt(entry.dataOffset + done, chunk.get(), want, &got) || got != want) {
        return false;
      }
      digest.update(chunk.get(), got);
      done += got;
    }
    digest.finalize();
    std::memcpy(md5, digest.raw_digest().data(), sizeof md5);
    return true;
  }

  // Whether the two hold the same bytes; sizes first, MD5s only when they
  // agree. `unreadable` says which side could not be read.
  bool Same(Content& a, Content& b, uint32_t* error, bool* unreadable) {
    *unreadable = false;
    if (a.unknown || b.unknown) {
      *error = a.unknown ? a.error : b.error;
      *unreadable = true;
      return false;
    }
    if (a.exists != b.exists || a.size != b.size) return false;
    if (!a.exists) return true;
    if (!Digest(a, error) || !Digest(b, error)) {
      *unreadable = true;
      return false;
    }
    return std::memcmp(a.md5, b.md5, sizeof a.md5) == 0;
  }

  void Record(uint32_t index, const std::string& path, const Content& result) {
    std::string folded = FoldGbkName(path);
    const uint32_t hash = HashOf(folded);
    written_.push_back(Written{hash, std::move(folded), index, result});
  }

  // The last entry so far that writes `path`, or null.
  const Written* LastWritten(const std::string& path) const {
    const std::string folded = FoldGbkName(path);
    const uint32_t hash = HashOf(folded);
    for (size_t i = written_.size(); i-- > 0;) {
      if (written_[i].hash == hash && written_[i].folded == folded) return &written_[i];
    }
    return nullptr;
  }

  // A plain entry is copied over whatever file has its name, byte for byte.
  void PlanPlainEntry(uint32_t index, PlannedEntry& planned) {
    const PayloadEntry& entry = table_[index];
    Content result;
    result.exists = true;
    result.size = entry.size;
    result.data = &entry;
    planned.action = InstallAction::Replace;
    planned.startsWay = true;
    if (kPredict) {
      const GamePathInfo info = game_.Look(planned.destination, true);
      const Written* earlier = nullptr;
      Content current = Current(planned.destination, info, &earlier, true);
      // Copied over whatever is there, its own bytes too: a read-only file
      // refuses the copy even then.
      if (earlier == nullptr && info.readOnlyOrHidden &&
          (info.state == GamePathState::File || info.state == GamePathState::Link)) {
        Problem(PlanProblemKind::ReadOnly, index, planned.destination).found = info;
      } else {
        planned.action = JudgeWrite(index, planned.destination, info, earlier, current, result);
      }
    }
    Record(index, planned.destination, result);
  }

  // A described file written whole: left as it is when it already holds the
  // new bytes (a run that was stopped), so a read-only one there is no
  // obstacle.
  void PlanWholeFile(uint32_t index, PlannedEntry& planned) {
    const EntryDescriptor& d = details_[index].descriptor;
    const Content result = KnownContent(d.decodedSize, d.decodedMd5);
    planned.action = InstallAction::Replace;
    planned.startsWay = true;
    const GamePathInfo info = LookAtPath(index, planned.destination, true, &planned.action);
    if (info.state != GamePathState::TooLong && info.state != GamePathState::Link) {
      const Written* earlier = nullptr;
      Content current = Current(planned.destination, info, &earlier);
      planned.action = JudgeWrite(index, planned.destination, info, earlier, current, result);
    }
    Record(index, planned.destination, result);
  }

  // New, Replace or Same for a file written whole over `current`.
  InstallAction JudgeWrite(uint32_t index, const std::string& path, const GamePathInfo& info,
                           const Written* earlier, Content& current, Content result) {
    uint32_t error = 0;
    bool unreadable = false;
    if (Same(current, result, &error, &unreadable)) return InstallAction::Same;
    if (unreadable) {
      if (kPredict) Unreadable(index, path, error);
      return current.exists ? InstallAction::Replace : InstallAction::New;
    }
    if (earlier != nullptr) return current.exists ? InstallAction::Replace : InstallAction::New;
    if (kPredict) {
      if (info.state == GamePathState::Blocked) {
        Problem(PlanProblemKind::Blocked, index, path).found = info;
      } else if (info.state == GamePathState::Directory) {
        Problem(PlanProblemKind::DirectoryInTheWay, index, path).found = info;
        return InstallAction::Replace;
      } else if (info.state == GamePathState::File && info.readOnlyOrHidden) {
        Problem(PlanProblemKind::ReadOnly, index, path).found = info;
      }
    }
    return current.exists ? InstallAction::Replace : InstallAction::New;
  }

  void Unreadable(uint32_t index, const std::string& path, uint32_t error) {
    if (payloadUnreadable_) {
      Problem(PlanProblemKind::PayloadUnreadable, index, path);
      payloadUnreadable_ = false;
      return;
    }
    Problem(PlanProblemKind::Unreadable, index, path).systemError = error;
  }

  // A file at a path, with every entry of its group: left as it is when it
  // already holds the new bytes (a run that was stopped); else the first
  // delta whose source is installed (at its path, or at its source path for
  // a file the new build renamed) and the steps after it; else the file
  // whole; else the run is refused: the installed file is not one the patch
  // was made from.
  void PlanFile(uint32_t first) {
    PlannedEntry& lead = plan_.entries[first];
    const std::string& path = lead.destination;
    for (uint32_t i = first; i != NO_ENTRY; i = groups_.next[i]) {
      plan_.entries[i].action = InstallAction::Skip;
    }
    const Content result = ResultOf(first);
    lead.action = InstallAction::Patch;
    const GamePathInfo atPath = LookAtPath(first, path, true, &lead.action);
    if (atPath.state != GamePathState::TooLong && atPath.state != GamePathState::Link) {
      ChooseWay(first, atPath, result);
    }
    Record(first, path, result);
  }

  // The new bytes of the file whose group begins at `first`: what its
  // entries that are not steps make.
  Content ResultOf(uint32_t first) const {
    uint32_t final = first;
    for (uint32_t i = first; i != NO_ENTRY; i = groups_.next[i]) {
      if (!details_[i].descriptor.IsStep()) final = i;
    }
    const EntryDescriptor& d = details_[final].descriptor;
    return KnownContent(d.decodedSize, d.decodedMd5);
  }

  // A delta's source as the run will find it.
  struct Source {
    std::string path;
    GamePathInfo info;
    const Written* earlier = nullptr;
    Content content;
  };

  enum class Match { Yes, No, Refused };

  void ChooseWay(uint32_t first, const GamePathInfo& atPath, const Content& result) {
    PlannedEntry& lead = plan_.entries[first];
    Source atTarget;
    atTarget.path = lead.destination;
    atTarget.info = atPath;
    atTarget.content = Current(lead.destination, atPath, &atTarget.earlier);
    uint32_t error = 0;
    bool unreadable = false;
    Content wanted = result;
    if (Same(atTarget.content, wanted, &error, &unreadable)) {
      lead.action = InstallAction::Same;
      return;
    }
    lead.action = InstallAction::Skip;
    uint32_t firstDelta = NO_ENTRY;
    Source firstSource;
    uint32_t whole = NO_ENTRY;
    for (uint32_t i = first; i != NO_ENTRY; i = groups_.next[i]) {
      const EntryDescriptor& d = details_[i].descriptor;
      if (d.coding != EntryCoding::Delta) {
        whole = i;
        continue;
      }
      Source other;
      Source& source = d.sourcePath.empty() ? atTarget : other;
      if (!d.sourcePath.empty()) {
        other.path = d.sourcePath;
        other.info = LookAtPath(i, d.sourcePath, false, &plan_.entries[i].action);
        if (other.info.state == GamePathState::TooLong || other.info.state == GamePathState::Link) {
          return;
        }
        other.content = Current(d.sourcePath, other.info, &other.earlier);
      }
      const Match match = MatchSource(i, source, d);
      if (match == Match::Refused) return;
      if (match == Match::Yes) {
        FollowWay(first, i, source.path, atPath);
        return;
      }
      if (firstDelta == NO_ENTRY) {
        firstDelta = i;
        firstSource = source;
      }
    }
    if (whole != NO_ENTRY) {
      PlannedEntry& planned = plan_.entries[whole];
      planned.startsWay = true;
      planned.action =
          JudgeWrite(whole, lead.destination, atPath, atTarget.earlier, atTarget.content, result);
      return;
    }
    Mismatch(firstDelta, firstSource);
  }

  // Whether the delta's source holds the bytes it was made from. A source
  // that an earlier entry writes would be read after it is replaced, and no
  // later run could make the delta's file either: refused.
  Match MatchSource(uint32_t index, Source& source, const EntryDescriptor& d) {
    if (source.earlier != nullptr) {
      Problem(PlanProblemKind::WrongOrder, index, source.path).writer = source.earlier->writer;
      plan_.entries[index].action = InstallAction::Mismatch;
      return Match::Refused;
    }
    // Already refused: a path that is no text of the updater's code page.
    if (source.info.state == GamePathState::Invalid) return Match::Refused;
    Content wanted = KnownContent(d.sourceSize, d.sourceMd5);
    uint32_t error = 0;
    bool unreadable = false;
    if (Same(source.content, wanted, &error, &unreadable)) return Match::Yes;
    if (!unreadable) return Match::No;
    PlanProblem& problem = Problem(PlanProblemKind::SourceUnreadable, index, source.path);
    problem.found = source.info;
    problem.systemError = error;
    plan_.entries[index].action = InstallAction::Mismatch;
    return Match::Refused;
  }

  // The way from the delta `start`: the steps whose sources its results are,
  // up to the file's new bytes.
  void FollowWay(uint32_t first, uint32_t start, const std::string& sourcePath,
                 const GamePathInfo& atPath) {
    PlannedEntry& head = plan_.entries[start];
    head.action = InstallAction::Patch;
    head.startsWay = true;
    head.source = sourcePath;
    uint32_t at = start;
    // A way never holds an entry twice: the group's size bounds it.
    for (uint32_t length = 0; details_[at].descriptor.IsStep() && length < table_.size();
         ++length) {
      uint32_t next = NO_ENTRY;
      for (uint32_t i = first; i != NO_ENTRY && next == NO_ENTRY; i = groups_.next[i]) {
        if (plan_.entries[i].action == InstallAction::Skip &&
            Continues(details_[i].descriptor, details_[at].descriptor)) {
          next = i;
        }
      }
      if (next == NO_ENTRY) break;
      plan_.entries[at].next = next;
      plan_.entries[next].action = InstallAction::Patch;
      at = next;
    }
    if (details_[at].descriptor.IsStep()) {
      // The last entry's result replaces the file and is checked against its
      // own MD5 only: a step there would install its bytes as the file. The
      // group checks at reading refuse such a group; should one get here,
      // no entry of it is taken and the run is refused as a damaged payload.
      for (uint32_t i = start; i != NO_ENTRY;) {
        const uint32_t following = plan_.entries[i].next;
        plan_.entries[i].action = InstallAction::Skip;
        plan_.entries[i].next = NO_ENTRY;
        i = following;
      }
      head.startsWay = false;
      head.source.clear();
      head.action = InstallAction::Mismatch;
      Problem(PlanProblemKind::BrokenGroup, first, plan_.entries[first].destination);
      return;
    }
    if (kPredict && atPath.state == GamePathState::File && atPath.readOnlyOrHidden) {
      Problem(PlanProblemKind::ReadOnly, start, plan_.entries[first].destination).found = atPath;
    }
  }

  // No delta's source is installed and nothing else makes the file: the
  // first delta's source is named.
  void Mismatch(uint32_t index, Source& source) {
    plan_.entries[index].action = InstallAction::Mismatch;
    PlanProblem& problem = Problem(PlanProblemKind::SourceMismatch, index, source.path);
    problem.found = source.info;
    uint32_t error = 0;
    // Sizes that differ need no MD5 for the run; the check names it in its
    // message, but for a file so large that reading it would take minutes.
    const bool worthReading = kPredict && source.content.size <= kMessageDigestLimit;
    if (source.content.exists &&
        (source.content.digestKnown || (worthReading && Digest(source.content, &error)))) {
      problem.foundKnown = true;
      std::memcpy(problem.foundMd5, source.content.md5, sizeof problem.foundMd5);
    }
  }

  // A removal takes only the old build's file: one the player changed stays.
  void JudgeRemoval(uint32_t index) {
    PlannedEntry& planned = plan_.entries[index];
    const EntryDescriptor& d = details_[index].descriptor;
    if (planned.action == InstallAction::Link) return;
    const GamePathInfo info = game_.Look(planned.destination, false);
    if (info.state == GamePathState::TooLong) return;
    Content current;
    const Written* written = LastWritten(planned.destination);
    const bool fromEarlier = written != nullptr;
    if (fromEarlier) {
      current = written->content;
    } else if (info.state == GamePathState::File) {
      current = Installed(planned.destination, info, false);
    }
    if (!current.exists) {
      planned.action = !fromEarlier && info.state == GamePathState::Directory ? InstallAction::Keep
                                                                              : InstallAction::Gone;
      return;
    }
    Content old = KnownContent(d.sourceSize, d.sourceMd5);
    uint32_t error = 0;
    bool unreadable = false;
    if (!Same(current, old, &error, &unreadable)) {
      if (unreadable) Unreadable(index, planned.destination, error);
      planned.action = InstallAction::Keep;
      return;
    }
    planned.action = InstallAction::Remove;
    if (!fromEarlier && info.readOnlyOrHidden) {
      Problem(PlanProblemKind::ReadOnly, index, planned.destination).found = info;
    }
  }

  ByteSource& payload_;
  const std::vector<PayloadEntry>& table_;
  const std::vector<EntryDetail>& details_;
  InstalledGame& game_;
  EntryGroups groups_;
  bool launcherChecked_ = false;
  bool payloadUnreadable_ = false;
  std::vector<Written> written_;  // in the run's order

  InstallPlan plan_;
};

}  // namespace

bool IsRefusal(PlanProblemKind kind) {
  switch (kind) {
    case PlanProblemKind::SourceMismatch:
    case PlanProblemKind::Link:
    case PlanProblemKind::PathTooLong:
    case PlanProblemKind::SourceUnreadable:
    case PlanProblemKind::WrongOrder:
    case PlanProblemKind::BrokenGroup:
      return true;
    default:
      return false;
  }
}

InstallPlan PlanInstall(ByteSource& payload, const std::vector<PayloadEntry>& table,
                        const std::vector<EntryDetail>& details, InstalledGame& game) {
  return Planner<false>(payload, table, details, game).Plan();
}

InstallPlan PredictInstall(ByteSource& payload, const std::vector<PayloadEntry>& table,
                           const std::vector<EntryDetail>& details, InstalledGame& game) {
  return Planner<true>(payload, table, details, game).Plan();
}
