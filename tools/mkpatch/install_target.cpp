#include "install_target.h"

#include <map>

#include "gbk_text.h"
#include "name_clash.h"
#include "name_encoding.h"
#include "payload.h"
#include "payload_check.h"

namespace {

std::string ExtractName(const std::string& gbkName) {
  return gbkName.empty() ? std::string(PATCH_TOPLEVEL_NAME) : gbkName;
}

}  // namespace

std::string InstallFileName(const std::string& gbkName) {
  const char* text = gbkName.c_str();
  const char* separator = FindLastSeparator(text, "\\/");
  return separator != nullptr ? std::string(separator + 1) : gbkName;
}

std::vector<std::string> FindInstallClashes(const std::vector<std::string>& gbkNames) {
  std::vector<std::string> problems;
  std::map<std::string, std::string> seen;  // folded file name -> first entry
  for (const std::string& name : gbkNames) {
    if (IsPackageName(ExtractName(name))) continue;
    const std::string fileName = InstallFileName(name);
    auto inserted = seen.emplace(FoldEntryName(fileName), name);
    const std::string& first = inserted.first->second;
    if (inserted.second || FoldEntryName(first) == FoldEntryName(name)) continue;
    problems.push_back("entries " + GbkForDisplay(first) + " and " + GbkForDisplay(name) +
                       " would both install as " + GbkForDisplay(fileName) +
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
