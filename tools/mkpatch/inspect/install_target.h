// Where the updater puts an entry: a package (a name ending in .tpk) goes to
// the game's launcher; any other file is copied into the game directory
// itself under the last part of its name, whatever directories the name holds.
#pragma once

#include <string>
#include <vector>

#include "update/format/entry_detail.h"

// Plain entries of an updater that would install onto the same file (same
// last part without regard to ASCII case): one message per clash, naming
// both entries. Names that are one file anyway are left to FindNameClashes.
std::vector<std::string> FindInstallClashes(const std::vector<std::string>& gbkNames);

// An entry and the path in the game directory it installs at (GBK).
struct InstalledAt {
  std::string name;
  std::string destination;
};
// FindInstallClashes over entries of every kind that writes a file.
std::vector<std::string> FindDestinationClashes(const std::vector<InstalledAt>& entries);

// For each plain entry whose name holds directory parts, a note that it
// lands in the game directory under its last part ("data\y.dat installs as y.dat").
std::vector<std::string> DirectoryPartNotes(const std::vector<std::string>& gbkNames);

// "package", "file", "remove" or "none": what the updater does with an entry.
const char* InstallVerb(EntryKind kind);
