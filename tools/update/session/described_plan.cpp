#include "update/session/described_plan.h"

#include <cstring>

#include "update/base/bounded_format.h"
#include "update/base/gbk_text.h"
#include "update/files/replace_whole_file.h"
#include "update/session/file_failure.h"
#include "update/session/installed_file.h"
#include "update/session/link_check.h"

namespace {

const char kTextPathTooLong[] = "错误的文件路径:参数 %d %d";
const char kTextOrderWrong[] = "错误的文件顺序:参数 %d %d";

// The target's path relative to the game directory: a file at a path has
// it in its descriptor, a plain file lands under its name's last part.
const char* RelativeTarget(const PayloadEntry& entry, const RunEntry& run) {
  if (run.descriptor.kind != EntryKind::PlainFile) return run.descriptor.path.c_str();
  const char* name = entry.name.c_str();
  const char* separator = FindLastSeparator(name, "\\/");
  return separator != nullptr ? separator + 1 : name;
}

bool ComposePath(const char* gameDir, const char* relative, uint32_t ordinal, bool written,
                 char (&path)[UPDATE_PATH_SIZE], RunFailure& failure) {
  // A file that is written needs room for its replacement copy's name too.
  const size_t needed = std::strlen(gameDir) + 1 + std::strlen(relative) +
                        (written ? std::strlen(REPLACEMENT_SUFFIX) : 0);
  if (needed < UPDATE_PATH_SIZE && FormatFitted(path, sizeof path, "%s\\%s", gameDir, relative)) {
    return true;
  }
  failure.Set(ERROR_FILE_CORRUPT, kTextPathTooLong, static_cast<int>(ordinal),
              static_cast<int>(needed));
  return false;
}

bool RefuseLink(const char* gameDir, const char* relative, RunFailure& failure,
                bool* sourcesMatch) {
  char link[UPDATE_PATH_SIZE];
  if (!FindLinkOnPath(gameDir, relative, link)) return false;
  *sourcesMatch = false;
  SetSourceMismatch(failure, link);
  return true;
}

// A delta applies to the old build's file only: at the target's own path,
// or at the path the new build renamed it from.
bool CheckDeltaSource(const char* gameDir, const EntryDescriptor& descriptor, uint32_t ordinal,
                      const InstalledMatch& atTarget, EntryTarget* target, RunFailure& failure,
                      bool* sourcesMatch) {
  InstalledMatch source = atTarget;
  if (descriptor.sourcePath.empty()) {
    FormatFitted(target->source, sizeof target->source, "%s", target->path);
  } else {
    if (!ComposePath(gameDir, descriptor.sourcePath.c_str(), ordinal, false, target->source,
                     failure) ||
        RefuseLink(gameDir, descriptor.sourcePath.c_str(), failure, sourcesMatch)) {
      return false;
    }
    source = CheckInstalledFile(target->source, descriptor);
  }
  if (source.isSource) return true;
  if (source.unreadable) {
    SetReadFailure(failure, target->source, GetLastError());
  } else {
    *sourcesMatch = false;
    SetSourceMismatch(failure, target->source);
  }
  return false;
}

bool PlanEntry(const char* gameDir, const PayloadEntry& entry, const RunEntry& run,
               uint32_t ordinal, EntryTarget* target, RunFailure& failure, bool* sourcesMatch) {
  const EntryDescriptor& descriptor = run.descriptor;
  if (descriptor.kind == EntryKind::Package) return true;
  const char* relative = RelativeTarget(entry, run);
  const bool written = descriptor.kind != EntryKind::Removal;
  if (!ComposePath(gameDir, relative, ordinal, written, target->path, failure) ||
      RefuseLink(gameDir, relative, failure, sourcesMatch)) {
    return false;
  }
  // A removal looks at its file when its turn comes, after every installation.
  if (!written) return true;
  // Already the new bytes (after a run that was stopped): nothing to do.
  const InstalledMatch atTarget = CheckInstalledFile(target->path, descriptor);
  target->installed = atTarget.isResult;
  if (target->installed || descriptor.coding != EntryCoding::Delta) return true;
  return CheckDeltaSource(gameDir, descriptor, ordinal, atTarget, target, failure, sourcesMatch);
}

// A delta that reads a file another entry writes must come first: read
// after it, the file would be the new one, and no later run could make the
// delta's file either. Files are installed in payload order; removals come
// after all of them.
bool ReadsBeforeOverwritten(const std::vector<RunEntry>& entries,
                            const std::vector<EntryTarget>& targets, uint32_t index,
                            RunFailure& failure) {
  const EntryTarget& delta = targets[index];
  if (delta.source[0] == '\0' || lstrcmpiA(delta.source, delta.path) == 0) return true;
  for (uint32_t earlier = 0; earlier < index; ++earlier) {
    if (entries[earlier].descriptor.kind != EntryKind::Removal &&
        lstrcmpiA(targets[earlier].path, delta.source) == 0) {
      failure.Set(ERROR_FILE_CORRUPT, kTextOrderWrong, static_cast<int>(index + 1),
                  static_cast<int>(earlier + 1));
      return false;
    }
  }
  return true;
}

}  // namespace

bool PlanDescribedEntries(const char* gameDir, const std::vector<PayloadEntry>& table,
                          const std::vector<RunEntry>& entries, std::vector<EntryTarget>* targets,
                          RunFailure& failure, bool* sourcesMatch) {
  targets->assign(entries.size(), EntryTarget());
  for (uint32_t index = 0; index < entries.size(); ++index) {
    if (!entries[index].described) continue;
    if (!PlanEntry(gameDir, table[index], entries[index], index + 1, &(*targets)[index], failure,
                   sourcesMatch) ||
        !ReadsBeforeOverwritten(entries, *targets, index, failure)) {
      return false;
    }
  }
  return true;
}

std::vector<EntrySpace> SpaceOfEntries(const std::vector<PayloadEntry>& table,
                                       const std::vector<RunEntry>& entries,
                                       const std::vector<EntryTarget>& targets) {
  std::vector<EntrySpace> spaces;
  for (size_t index = 0; index < table.size(); ++index) {
    spaces.push_back(entries[index].described ? SpaceOfDescribedEntry(entries[index].descriptor,
                                                                      targets[index].installed)
                                              : SpaceOfPlainEntry(table[index]));
  }
  return spaces;
}
