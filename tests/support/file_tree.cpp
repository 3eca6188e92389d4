#include "file_tree.h"

#include <windows.h>

#include "win32_handle.h"

void RemoveTree(const std::string& path) {
  {
    // Closed before the folder itself is removed.
    WIN32_FIND_DATAA entry;
    UniqueFindHandle find(FindFirstFileA((path + "\\*").c_str(), &entry));
    if (find) {
      do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        std::string child = path + "\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(child);
        } else {
          SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
          DeleteFileA(child.c_str());
        }
      } while (FindNextFileA(find.Get(), &entry));
    }
  }
  RemoveDirectoryA(path.c_str());
}
