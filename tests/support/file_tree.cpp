#include "file_tree.h"

#include <windows.h>

#include <algorithm>

#include "remove_tree.h"
#include "win32_handle.h"

void RemoveTree(const std::string& path) { RemoveTree(path.c_str()); }

std::vector<std::string> ListFiles(const std::string& directory, const char* pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  UniqueFindHandle search(FindFirstFileA((directory + "\\" + pattern).c_str(), &found));
  if (!search) return names;
  do {
    std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search.Get(), &found));
  std::sort(names.begin(), names.end());
  return names;
}
