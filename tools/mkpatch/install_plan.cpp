#include "install_plan.h"

#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "file_system.h"
#include "install_target.h"
#include "name_clash.h"
#include "name_encoding.h"
#include "payload_check.h"

namespace {

const size_t kChunkSize = 1 << 16;

// Whether `length` bytes at two places (possibly in one file) are equal,
// read a chunk at a time. False when a read fails.
bool CompareBytes(FILE* a, uint64_t aOffset, FILE* b, uint64_t bOffset, uint64_t length,
                  bool* same) {
  std::vector<unsigned char> left(kChunkSize), right(kChunkSize);
  while (length > 0) {
    size_t want = length < kChunkSize ? static_cast<size_t>(length) : kChunkSize;
    if (!SeekTo(a, aOffset) || std::fread(left.data(), 1, want, a) != want) return false;
    if (!SeekTo(b, bOffset) || std::fread(right.data(), 1, want, b) != want) return false;
    if (std::memcmp(left.data(), right.data(), want) != 0) {
      *same = false;
      return true;
    }
    aOffset += want;
    bOffset += want;
    length -= want;
  }
  *same = true;
  return true;
}

bool HasLauncher(const std::string& gameDir) {
  std::string folder, launcher;
  return FindIgnoringCase(gameDir, "launch", &folder) &&
         FindIgnoringCase(folder, "launch.exe", &launcher) && IsRegularFile(launcher);
}

class Planner {
 public:
  Planner(FILE* updater, const std::string& gameDir) : updater_(updater), gameDir_(gameDir) {}

  void Add(const PayloadEntry& entry) {
    PlannedInstall install;
    install.name = entry.name;
    install.package = IsPackageName(entry.name);
    if (install.package) {
      if (!launcherChecked_ && !HasLauncher(gameDir_)) {
        Refuse("the game's launcher launch/launch.exe is missing; the updater cannot install " +
               GbkForDisplay(entry.name));
      }
      launcherChecked_ = true;
    } else {
      install.destination = InstallFileName(entry.name);
      install.action = PlainAction(entry, install.destination);
    }
    plan_.entries.push_back(install);
  }

  InstallPlan Take() { return std::move(plan_); }

 private:
  void Refuse(const std::string& reason) { plan_.refusals.push_back(reason); }

  InstallAction PlainAction(const PayloadEntry& entry, const std::string& destination) {
    const std::string shown = GbkForDisplay(destination);
    auto earlier = written_.find(FoldEntryName(destination));
    if (earlier != written_.end()) {
      const PayloadEntry previous = earlier->second;
      earlier->second = entry;
      bool same = false;
      if (previous.size == entry.size && !CompareBytes(updater_, previous.dataOffset, updater_,
                                                       entry.dataOffset, entry.size, &same)) {
        Refuse("cannot read the updater file");
      }
      return same ? InstallAction::Same : InstallAction::Replace;
    }
    written_.emplace(FoldEntryName(destination), entry);

    std::string utf8, path;
    if (!GbkToUtf8(destination, &utf8)) {
      Refuse(shown + " is not code page 936 text");
      return InstallAction::New;
    }
    if (!FindIgnoringCase(gameDir_, utf8, &path)) return InstallAction::New;
    if (IsDirectory(path)) {
      Refuse(shown + " in the game directory is a directory; the updater cannot put " +
             GbkForDisplay(entry.name) + " there");
      return InstallAction::Replace;
    }
    if (IsReadOnlyOrHidden(path)) {
      Refuse(shown +
             " in the game directory is read-only or hidden; the updater will not "
             "replace it");
      return InstallAction::Replace;
    }
    UniqueFile file = OpenFile(path, "rb");
    uint64_t size = 0;
    if (!file || !FileSize(file.Get(), &size)) {
      Refuse("cannot read " + shown + " in the game directory");
      return InstallAction::Replace;
    }
    bool same = false;
    if (size == entry.size &&
        !CompareBytes(updater_, entry.dataOffset, file.Get(), 0, entry.size, &same)) {
      Refuse("cannot read " + shown + " in the game directory");
    }
    return same ? InstallAction::Same : InstallAction::Replace;
  }

  FILE* updater_;
  const std::string& gameDir_;
  bool launcherChecked_ = false;
  std::map<std::string, PayloadEntry> written_;  // folded destination -> last entry there
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
  }
  return "package";
}

InstallPlan PlanInstall(FILE* updater, const std::vector<PayloadEntry>& entries,
                        const std::string& gameDir) {
  Planner planner(updater, gameDir);
  for (const PayloadEntry& entry : entries) planner.Add(entry);
  return planner.Take();
}
