// Comparing an older release tree of the game with a newer one by content:
// which files of the newer one an update from the older must write, what
// each may be made from, and which files of the older it removes. The same
// comparison serves every pair of builds a cumulative patch weighs.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "mkpatch/plan/file_likeness.h"
#include "mkpatch/plan/release_tree.h"

enum class PairState : uint8_t {
  Same,     // the older tree holds the file's bytes at its path
  Changed,  // other bytes at its path
  Added,    // nothing at its path
};

struct PairFile {
  PairState state = PairState::Same;
  // Added: the folded path of the older tree's file it may be made from (a
  // file the newer build moved, renamed or copied), or empty.
  std::string sourceKey;
  // The source was found by its content alone: when no delta from it is
  // smaller, the file ships as a new file does.
  bool bySimilarity = false;
};

struct TreePair {
  std::map<std::string, PairFile> files;  // every file of the newer tree, by folded path
  std::vector<std::string> removed;       // folded paths of the older tree's files it lacks
};

// Sketches of the files the comparisons read for their content, each read once.
class LikenessCache {
 public:
  // False when the file cannot be read.
  bool Sketch(const TreeFile& file, const LikenessSketch** sketch);

 private:
  std::map<std::string, LikenessSketch> sketches_;  // by local path
};

// Compares by size and MD5. An added file is made from the older tree's
// file with the same bytes among those the newer one lacks, else one with
// the same name (the first in path order), else the one beside it with the
// same extension whose name begins most like its own (at least 4 characters,
// sizes within a factor of two), else the file of the older tree, kept or
// not, whose content is most like its own. False, with a message, when a
// file cannot be read.
bool CompareTrees(ReleaseTree& older, ReleaseTree& newer, LikenessCache* likeness, TreePair* pair,
                  std::vector<std::string>* problems);
