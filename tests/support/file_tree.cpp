#include "file_tree.h"

#include <windows.h>

#include <algorithm>

#include "remove_tree.h"

void RemoveTree(const std::string& path) { RemoveTree(path.c_str()); }

std::vector<std::string> ListFiles(const std::string& directory, const char* pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((directory + "\\" + pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}
