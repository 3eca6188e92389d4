// Where the updater puts an entry: a package (a name ending in .tpk) goes to
// the game's launcher; any other file is copied into the game directory
// itself under the last part of its name, whatever directories the name holds.
#pragma once

#include <string>
#include <vector>

// The file name a plain entry is installed under: the text after the last
// '\\' or '/', found without splitting double-byte characters (GBK in, GBK out).
std::string InstallFileName(const std::string& gbkName);

// Plain entries of an updater that would install onto the same file (same
// last part without regard to ASCII case): one message per clash, naming
// both entries. Names that are one file anyway are left to FindNameClashes.
std::vector<std::string> FindInstallClashes(const std::vector<std::string>& gbkNames);

// For each plain entry whose name holds directory parts, a note that it
// lands in the game directory under its last part ("data\y.dat installs as y.dat").
std::vector<std::string> DirectoryPartNotes(const std::vector<std::string>& gbkNames);
