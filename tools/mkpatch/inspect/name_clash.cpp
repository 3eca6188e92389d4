#include "mkpatch/inspect/name_clash.h"

#include <map>

#include "mkpatch/fs/name_encoding.h"
#include "update/base/gbk_text.h"
#include "update/format/payload.h"

std::string FoldEntryName(const std::string& gbkName) {
  return FoldGbkName(gbkName.empty() ? std::string(PATCH_TOPLEVEL_NAME) : gbkName);
}

std::vector<std::string> FindNameClashes(const std::vector<std::string>& gbkNames) {
  std::vector<std::string> problems;
  std::map<std::string, std::string> seen;  // folded -> name as given
  for (const std::string& name : gbkNames) {
    auto inserted = seen.emplace(FoldEntryName(name), name);
    if (!inserted.second) {
      problems.push_back("duplicate entry name " + GbkForDisplay(name) + " (same as " +
                         GbkForDisplay(inserted.first->second) + ")");
    }
  }
  for (const auto& item : seen) {
    const char* text = item.first.c_str();
    for (const char* p = text; *p != '\0'; p = NextChar(p)) {
      if (*p != '\\' || NextChar(p) - p != 1) continue;
      auto directory = seen.find(std::string(text, p));
      if (directory != seen.end()) {
        problems.push_back("entry " + GbkForDisplay(directory->second) +
                           " is also a directory of " + GbkForDisplay(item.second));
      }
    }
  }
  return problems;
}
