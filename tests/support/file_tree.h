// File-system chores shared by the Windows test programs.
#pragma once

#include <string>
#include <vector>

// Deletes `path` and everything below it, read-only files included; a
// missing path is not an error. Tests start from a clean folder with it.
void RemoveTree(const std::string& path);

// Names in `directory` matching `pattern` (FindFirstFile wildcards), without
// "." and "..", sorted.
std::vector<std::string> ListFiles(const std::string& directory, const char* pattern);
