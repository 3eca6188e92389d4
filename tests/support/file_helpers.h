// File-system chores shared by the Windows test programs and benchmarks.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "whole_file.h"

// A file (not a folder) at `path`.
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// `path` ("X:\..." form) and every folder above it.
void MakeDirectoryTree(const std::string& path);

// Deletes `path` and everything below it, read-only files included; a
// missing path is not an error. Tests start from a clean folder with it.
void RemoveTree(const std::string& path);

// Names in `directory` matching `pattern` (FindFirstFile wildcards), without
// "." and "..", sorted.
std::vector<std::string> ListFiles(const std::string& directory, const char* pattern);

// Everything below `directory`: each file's path relative to it with the
// file's bytes, and each folder's with a trailing backslash (and no bytes).
// Two equal results are the same tree, byte for byte.
std::map<std::string, std::string> TreeContents(const std::string& directory);

// The value as the profile API reads it; "" when absent.
std::string IniValue(const std::string& path, const char* section, const char* key);
