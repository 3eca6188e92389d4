// One release tree of the game as mkpatch diff reads it: its files by their
// paths folded as Windows compares them, each file's bytes known by size and
// MD5 once a comparison needs them, and the name of the build it holds.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct TreeFile {
  std::string relative;  // UTF-8, '/' between parts, as the tree spells it
  std::string key;       // `relative` folded as Windows compares names: the tree's key
  std::string local;
  // The path as an entry would hold it (GBK, '\' between parts), by which
  // entries are ordered; empty where code page 936 cannot hold it.
  std::string gbkPath;
  uint64_t size = 0;
  // Filled by DigestTreeFile.
  bool digested = false;
  unsigned char md5[16] = {};
};

struct ReleaseTree {
  std::string label;  // "OLD_DIR", "NEW_DIR" or "--from DIR", for messages
  std::string root;
  // The build's name: its Config/Client.ini's GameVersion, else the folder's.
  std::string buildName;
  std::map<std::string, TreeFile> files;           // folded relative path -> file
  std::map<std::string, std::string> directories;  // folded directory -> a file below it
};

// Reads the tree at `root`: false, with one message per problem, where it is
// no directory, holds a symbolic link (never followed), a file that cannot
// be read, or two paths that are one file or one name on Windows.
// Config/Client.ini, the updater's own record, is left out with a note.
bool ReadReleaseTree(const std::string& label, const std::string& root, ReleaseTree* tree,
                     std::vector<std::string>* notes, std::vector<std::string>* problems);

// The updater installs every file before it removes any, so no file of the
// new build may need a directory where an old one has a file, nor the other
// way round.
void CheckTreeShapes(const ReleaseTree& oldTree, const ReleaseTree& newTree,
                     std::vector<std::string>* problems);

// The file's MD5 (read once, then kept); false when it cannot be read whole
// or its size changed since the tree was read.
bool DigestTreeFile(TreeFile* file);
// Whether the two hold the same bytes, by size and MD5; false with
// `*unreadable` when either cannot be read.
bool SameTreeBytes(TreeFile* a, TreeFile* b, bool* unreadable);

// `relative` with '\' between its parts, as the summary shows paths.
std::string ShownTreePath(const std::string& relative);
// `relative` as an entry's path (GBK, '\'), checked as the updater checks
// names; false with a message where it cannot be one.
bool TreeEntryPath(const std::string& relative, std::string* gbk,
                   std::vector<std::string>* problems);
