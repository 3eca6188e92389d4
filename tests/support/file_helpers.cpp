#include "file_helpers.h"

#include <windows.h>

#include <algorithm>

#include "update/files/remove_tree.h"
#include "update/files/win32_handle.h"

bool FileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void MakeDirectoryTree(const std::string& path) {
  for (size_t i = 3; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
  }
}

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

namespace {

void AddTree(const std::string& root, const std::string& relative,
             std::map<std::string, std::string>& contents) {
  const std::string folder = relative.empty() ? root : root + "\\" + relative;
  for (const std::string& name : ListFiles(folder, "*")) {
    const std::string path = relative.empty() ? name : relative + "\\" + name;
    if (DirectoryExists(root + "\\" + path)) {
      contents[path + "\\"] = std::string();
      AddTree(root, path, contents);
    } else {
      contents[path] = ReadWholeFile(root + "\\" + path);
    }
  }
}

}  // namespace

std::map<std::string, std::string> TreeContents(const std::string& directory) {
  std::map<std::string, std::string> contents;
  AddTree(directory, std::string(), contents);
  return contents;
}

std::string IniValue(const std::string& path, const char* section, const char* key) {
  char value[MAX_PATH] = {};
  GetPrivateProfileStringA(section, key, "", value, sizeof(value), path.c_str());
  return value;
}
