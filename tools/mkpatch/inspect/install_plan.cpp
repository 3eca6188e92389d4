#include "mkpatch/inspect/install_plan.h"

#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "mkpatch/fs/byte_compare.h"
#include "mkpatch/fs/file_digest.h"
#include "mkpatch/fs/file_source.h"
#include "mkpatch/fs/file_system.h"
#include "mkpatch/fs/game_path.h"
#include "mkpatch/fs/name_encoding.h"
#include "mkpatch/inspect/install_target.h"
#include "mkpatch/inspect/name_clash.h"
#include "update/base/md5.h"
#include "update/format/payload_digest.h"

namespace {

const char kNotTheBuild[] =
    "; the updater refuses with exit code 5 (the installed files are not the build this patch "
    "was made from)";

bool HasLauncher(const std::string& gameDir) {
  std::string folder, launcher;
  return FindIgnoringCase(gameDir, "launch", &folder) &&
         FindIgnoringCase(folder, "launch.exe", &launcher) && IsRegularFile(launcher);
}

// A file's bytes known by size and MD5; the MD5 of a plain entry's bytes in
// the updater is taken only when a comparison needs it.
struct Content {
  bool exists = true;
  uint64_t size = 0;
  bool digestKnown = false;
  unsigned char md5[ENTRY_DIGEST_SIZE] = {};
  uint64_t updaterOffset = 0;  // where a plain entry's bytes are, when !digestKnown
};

Content KnownContent(uint64_t size, const unsigned char (&md5)[ENTRY_DIGEST_SIZE]) {
  Content content;
  content.size = size;
  content.digestKnown = true;
  std::memcpy(content.md5, md5, ENTRY_DIGEST_SIZE);
  return content;
}

class Planner {
 public:
  Planner(FILE* updater, const std::string& gameDir) : updater_(updater), gameDir_(gameDir) {}

  void Add(const PayloadEntry& entry, const EntryDetail& detail) {
    PlannedInstall install;
    install.name = entry.name;
    install.kind = InstallKindOf(entry, detail);
    install.marked = detail.HasDescriptor();
    install.coding = CodingOf(detail);
    install.destination = DestinationOf(entry, detail);
    switch (install.kind) {
      case EntryKind::Package:
        if (!launcherChecked_ && !HasLauncher(gameDir_)) {
          Refuse("the game's launcher launch/launch.exe is missing; the updater cannot install " +
                 GbkForDisplay(entry.name));
        }
        launcherChecked_ = true;
        install.action = InstallAction::Package;
        break;
      case EntryKind::PlainFile:
      case EntryKind::PathFile:
        install.action = install.coding == EntryCoding::Delta
                             ? DeltaAction(detail.descriptor)
                             : WholeAction(entry, detail, install.destination);
        break;
      case EntryKind::Removal:
        removals_.push_back(plan_.entries.size());  // judged after every write
        break;
    }
    plan_.entries.push_back(install);
    descriptors_.push_back(detail.descriptor);
  }

  InstallPlan Take() {
    for (size_t index : removals_) {
      plan_.entries[index].action = RemovalAction(descriptors_[index]);
    }
    return std::move(plan_);
  }

 private:
  void Refuse(const std::string& reason) { plan_.refusals.push_back(reason); }

  bool Digest(Content& content) {
    if (content.digestKnown) return true;
    MD5 digest;
    std::vector<unsigned char> chunk(1 << 16);
    if (!SeekTo(updater_, content.updaterOffset)) return false;
    for (uint64_t left = content.size; left > 0;) {
      const size_t want = left < chunk.size() ? static_cast<size_t>(left) : chunk.size();
      if (std::fread(chunk.data(), 1, want, updater_) != want) return false;
      digest.update(chunk.data(), static_cast<uint32_t>(want));
      left -= want;
    }
    digest.finalize();
    std::memcpy(content.md5, digest.raw_digest().data(), ENTRY_DIGEST_SIZE);
    content.digestKnown = true;
    return true;
  }

  bool Same(Content& a, Content& b) {
    if (a.exists != b.exists || a.size != b.size) return false;
    if (!a.exists) return true;
    if (!Digest(a) || !Digest(b)) {
      Refuse("cannot read the updater file");
      return false;
    }
    return std::memcmp(a.md5, b.md5, ENTRY_DIGEST_SIZE) == 0;
  }

  // What the entry leaves at its destination.
  Content ResultOf(const PayloadEntry& entry, const EntryDetail& detail) {
    if (detail.HasDescriptor()) {
      return KnownContent(detail.descriptor.decodedSize, detail.descriptor.decodedMd5);
    }
    Content content;
    content.size = entry.size;
    content.updaterOffset = entry.dataOffset;
    return content;
  }

  // The installed file's size and MD5; false (with a refusal) when unreadable.
  bool Installed(const std::string& path, const std::string& shown, Content* content) {
    unsigned char md5[ENTRY_DIGEST_SIZE];
    uint64_t size = 0;
    if (!DigestFile(path, &size, md5)) {
      Refuse("cannot read " + shown + " in the game directory");
      return false;
    }
    *content = KnownContent(size, md5);
    return true;
  }

  // A whole file: a plain entry's bytes, or a descriptor entry decoded.
  InstallAction WholeAction(const PayloadEntry& entry, const EntryDetail& detail,
                            const std::string& destination) {
    Content result = ResultOf(entry, detail);
    const std::string key = FoldEntryName(destination);
    auto earlier = written_.find(key);
    if (earlier != written_.end()) {
      const bool same = Same(earlier->second, result);
      earlier->second = result;
      return same ? InstallAction::Same : InstallAction::Replace;
    }
    written_.emplace(key, result);
    return detail.HasDescriptor() ? DescribedAction(entry, destination, result)
                                  : PlainAction(entry, destination, result);
  }

  // A plain entry is copied over whatever file has its name, byte for byte.
  InstallAction PlainAction(const PayloadEntry& entry, const std::string& destination,
                            const Content& result) {
    const std::string shown = GbkForDisplay(destination);
    std::string utf8, path;
    if (!GbkToUtf8(destination, &utf8)) {
      Refuse(shown + " is not code page 936 text");
      return InstallAction::New;
    }
    if (!FindIgnoringCase(gameDir_, utf8, &path)) return InstallAction::New;
    if (IsDirectory(path)) return NoRoom(entry, shown);
    if (IsReadOnlyOrHidden(path)) return ReadOnly(shown);
    UniqueFile file = OpenFile(path, "rb");
    uint64_t size = 0;
    if (!file || !FileSize(file.Get(), &size)) {
      Refuse("cannot read " + shown + " in the game directory");
      return InstallAction::Replace;
    }
    bool same = false;
    if (size == result.size &&
        !CompareBytes(updater_, result.updaterOffset, file.Get(), 0, result.size, &same)) {
      Refuse("cannot read " + shown + " in the game directory");
    }
    return same ? InstallAction::Same : InstallAction::Replace;
  }

  // A described file is never written through a link, and one that already
  // holds the new bytes (a run that was stopped) is left as it is.
  InstallAction DescribedAction(const PayloadEntry& entry, const std::string& destination,
                                Content& result) {
    const std::string shown = GbkForDisplay(destination);
    const GamePath found = FindGamePath(gameDir_, destination);
    switch (found.state) {
      case GamePathState::Missing:
        return InstallAction::New;
      case GamePathState::Link:
        Refuse(found.local + " is a symbolic link; the updater will not write " + shown +
               " through it" + kNotTheBuild);
        return InstallAction::Link;
      case GamePathState::Blocked:
        Refuse(found.local + " is a file where " + shown + " needs a directory");
        return InstallAction::New;
      case GamePathState::Invalid:
        Refuse(shown + " is not code page 936 text");
        return InstallAction::New;
      case GamePathState::Directory:
        return NoRoom(entry, shown);
      case GamePathState::File:
        break;
    }
    Content installed;
    if (!Installed(found.local, shown, &installed)) return InstallAction::Replace;
    if (Same(installed, result)) return InstallAction::Same;
    if (IsReadOnlyOrHidden(found.local)) return ReadOnly(shown);
    return InstallAction::Replace;
  }

  InstallAction NoRoom(const PayloadEntry& entry, const std::string& shown) {
    Refuse(shown + " in the game directory is a directory; the updater cannot put " +
           GbkForDisplay(entry.name) + " there");
    return InstallAction::Replace;
  }

  InstallAction ReadOnly(const std::string& shown) {
    Refuse(shown +
           " in the game directory is read-only or hidden; the updater will not replace it");
    return InstallAction::Replace;
  }

  // What stands at `path` now: an earlier entry's result, or the installed
  // file. False when the updater would refuse (a link) or cannot tell.
  bool Current(const std::string& path, Content* current, std::string* local,
               InstallAction* refused) {
    auto earlier = written_.find(FoldEntryName(path));
    if (earlier != written_.end()) {
      *current = earlier->second;
      return true;
    }
    const std::string shown = GbkForDisplay(path);
    const GamePath found = FindGamePath(gameDir_, path);
    *local = found.local;
    current->exists = false;
    switch (found.state) {
      case GamePathState::Link:
        Refuse(found.local + " is a symbolic link, where the patch changes " + shown +
               kNotTheBuild);
        *refused = InstallAction::Link;
        return false;
      case GamePathState::Invalid:
        Refuse(shown + " is not code page 936 text");
        *refused = InstallAction::Mismatch;
        return false;
      case GamePathState::File:
        if (!Installed(found.local, shown, current)) {
          *refused = InstallAction::Mismatch;
          return false;
        }
        return true;
      case GamePathState::Directory:  // no file of that name
      case GamePathState::Missing:
      case GamePathState::Blocked:
        return true;
    }
    return true;
  }

  // A delta applies to the installed file it was made from: the file at its
  // path, or at its source path for a file the new build renamed.
  InstallAction DeltaAction(const EntryDescriptor& d) {
    const std::string& sourcePath = d.sourcePath.empty() ? d.path : d.sourcePath;
    const std::string shown = GbkForDisplay(sourcePath);
    Content atPath, current, source = KnownContent(d.sourceSize, d.sourceMd5);
    Content result = KnownContent(d.decodedSize, d.decodedMd5);
    std::string local, sourceLocal;
    InstallAction refused = InstallAction::Mismatch;
    bool known = Current(d.path, &atPath, &local, &refused);
    if (known && !d.sourcePath.empty()) {
      known = Current(d.sourcePath, &current, &sourceLocal, &refused);
    } else {
      current = atPath;
      sourceLocal = local;
    }
    written_[FoldEntryName(d.path)] = result;
    if (!known) return refused;
    if (Same(atPath, result)) return InstallAction::Same;
    if (Same(current, source)) {
      if (!local.empty() && IsReadOnlyOrHidden(local)) ReadOnly(GbkForDisplay(d.path));
      return InstallAction::Patch;
    }
    if (!current.exists && !sourceLocal.empty() && IsDirectory(sourceLocal)) {
      Refuse(shown + " in the game directory is a directory; the patch has a delta for a file" +
             kNotTheBuild);
    } else if (!current.exists) {
      Refuse(shown + " is missing from the game directory; the patch has only a delta for it" +
             kNotTheBuild);
    } else {
      Refuse(shown + " in the game directory is not the file the delta was made from (" +
             std::to_string(current.size) + " bytes, md5 " + DigestHex(current.md5) +
             "; the delta needs " + std::to_string(d.sourceSize) + " bytes, md5 " +
             DigestHex(d.sourceMd5) + ")" + kNotTheBuild);
    }
    return InstallAction::Mismatch;
  }

  // A removal takes only the old build's file: one the player changed stays.
  InstallAction RemovalAction(const EntryDescriptor& d) {
    Content current, old = KnownContent(d.sourceSize, d.sourceMd5);
    std::string local;
    InstallAction refused = InstallAction::Keep;
    const bool known = Current(d.path, &current, &local, &refused);
    Content gone;
    gone.exists = false;
    written_[FoldEntryName(d.path)] = gone;
    if (!known) return refused;
    if (!current.exists)
      return local.empty() || !IsDirectory(local) ? InstallAction::Gone : InstallAction::Keep;
    if (!Same(current, old)) return InstallAction::Keep;
    if (!local.empty() && IsReadOnlyOrHidden(local)) {
      Refuse(GbkForDisplay(d.path) +
             " in the game directory is read-only or hidden; the updater will not remove it");
    }
    return InstallAction::Remove;
  }

  FILE* updater_;
  const std::string& gameDir_;
  bool launcherChecked_ = false;
  std::map<std::string, Content> written_;  // folded destination -> what the run leaves there
  std::vector<size_t> removals_;
  std::vector<EntryDescriptor> descriptors_;  // per planned entry
  InstallPlan plan_;
};

}  // namespace

const char* InstallActionName(InstallAction action) {
  switch (action) {
    case InstallAction::Package:
      return "package";
    case InstallAction::New:
      return "new";
    case InstallAction::Replace:
      return "replace";
    case InstallAction::Same:
      return "same";
    case InstallAction::Patch:
      return "patch";
    case InstallAction::Mismatch:
      return "mismatch";
    case InstallAction::Link:
      return "link";
    case InstallAction::Remove:
      return "remove";
    case InstallAction::Keep:
      return "keep";
    case InstallAction::Gone:
      return "gone";
  }
  return "package";
}

InstallPlan PlanInstall(FILE* updater, const std::vector<PayloadEntry>& entries,
                        const std::vector<EntryDetail>& details, const std::string& gameDir) {
  Planner planner(updater, gameDir);
  for (size_t i = 0; i < entries.size(); ++i) planner.Add(entries[i], details[i]);
  return planner.Take();
}
