// Comparing two release trees of the game by content: which files a patch
// between them ships, and which it removes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class TreeChange { Changed, Added, Removed };

struct ChangedFile {
  TreeChange change = TreeChange::Changed;
  std::string path;       // GBK, '\' between parts: the path inside the game directory
  std::string shownPath;  // the same in UTF-8, for messages and reports
  std::string oldFile;    // local paths; empty where that tree lacks the file
  std::string newFile;
  uint64_t oldSize = 0;
  uint64_t newSize = 0;
  // An added file the new build moved or renamed: the removed file it may be
  // made from (its local path and size are oldFile and oldSize).
  std::string sourcePath;  // GBK, as `path`
  std::string sourceShown;
};

struct TreeDiff {
  std::vector<ChangedFile> shipped;  // changed and added files, sorted bytewise by path
  std::vector<ChangedFile> removed;  // sorted bytewise by path
  size_t unchanged = 0;
  std::vector<std::string> notes;  // files left out on purpose
};

// Files are matched by their relative paths without regard to ASCII case, as
// Windows matches them; a changed or added file takes NEW_DIR's spelling.
// False, with one message per problem, where a path cannot be an entry's path
// (GBK, length, the updater's name rules), two paths of one tree are one file
// on Windows, a tree holds a symbolic link (never followed), a file is too
// large for a patch, or the new tree puts a file where the old one has a
// directory or the other way round (the updater installs before it removes).
// Config/Client.ini, the updater's own record, is left out of both trees with
// a note. An added file gets a removed one as its possible source: one with
// the same bytes, else one with the same name (the first in path order).
bool DiffTrees(const std::string& oldDir, const std::string& newDir, TreeDiff* diff,
               std::vector<std::string>* problems);
