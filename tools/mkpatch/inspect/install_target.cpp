#include "mkpatch/inspect/install_target.h"

#include <map>

#include "mkpatch/fs/name_encoding.h"
#include "mkpatch/inspect/name_clash.h"
#include "mkpatch/inspect/payload_check.h"
#include "update/base/gbk_text.h"
#include "update/format/game_layout.h"
#include "update/format/payload.h"

namespace {

std::string ExtractName(const std::string& gbkName) {
  return gbkName.empty() ? std::string(PATCH_TOPLEVEL_NAME) : gbkName;
}

}  // namespace

std::vector<std::string> FindInstallClashes(const std::vector<std::string>& gbkNames) {
  std::vector<InstalledAt> entries;
  for (const std::string& name : gbkNames) {
    if (!IsPackageName(ExtractName(name))) entries.push_back({name, InstallFileName(name)});
  }
  return FindDestinationClashes(entries);
}

std::vector<std::string> FindDestinationClashes(const std::vector<InstalledAt>& entries) {
  std::vector<std::string> problems;
  std::map<std::string, std::string> seen;  // folded destination -> first entry's name
  for (const InstalledAt& entry : entries) {
    auto inserted = seen.emplace(FoldEntryName(entry.destination), entry.name);
    const std::string& first = inserted.first->second;
    if (inserted.second || FoldEntryName(first) == FoldEntryName(entry.name)) continue;
    problems.push_back("entries " + GbkForDisplay(first) + " and " + GbkForDisplay(entry.name) +
                       " would both install as " + GbkForDisplay(entry.destination) +
                       " in the game directory");
  }
  return problems;
}

std::vector<std::string> DirectoryPartNotes(const std::vector<std::string>& gbkNames) {
  std::vector<std::string> notes;
  for (const std::string& name : gbkNames) {
    if (IsPackageName(ExtractName(name))) continue;
    const std::string fileName = InstallFileName(name);
    if (fileName.size() == name.size()) continue;
    notes.push_back(GbkForDisplay(name) + " installs as " + GbkForDisplay(fileName) +
                    " (the updater puts plain files into the game directory itself)");
  }
  return notes;
}

const char* InstallVerb(EntryKind kind) {
  switch (kind) {
    case EntryKind::Package:
      return "package";
    case EntryKind::PlainFile:
    case EntryKind::PathFile:
      return "file";
    case EntryKind::Removal:
      return "remove";
    case EntryKind::BuildList:
      return "none";
  }
  return "file";
}
