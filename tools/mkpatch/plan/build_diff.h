// What a patch from one or several old builds of the game to a new one must
// do with each file: the distinct old contents a new file is reached from
// (its bytes at its path in some builds, or another file's bytes where a
// build had it elsewhere), the builds that already hold its new bytes, those
// only the whole file reaches, and the files the new build dropped. Files
// are compared by content; the first old build is the base, every further
// one a later build players may have installed, in release order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mkpatch/plan/release_tree.h"
#include "mkpatch/plan/tree_diff.h"

// A patch names at most this many old builds (a bit each in a descriptor).
constexpr size_t kMostOldBuilds = 32;

// One file's bytes as some old builds hold them.
struct OldContent {
  // Where those builds hold them: the file's own path, or (a file the new
  // build moved, renamed or copied) the path of the file it is made from.
  bool ownPath = true;
  std::string path;   // GBK, '\' between parts
  std::string shown;  // UTF-8, for the summary
  std::string local;  // a file with these bytes, in the first of the builds
  uint64_t size = 0;
  unsigned char md5[16] = {};
  uint32_t builds = 0;  // bit n: old build n holds these bytes there
  // Found by its content alone: when no delta from it is smaller, the file
  // ships as a new file would.
  bool bySimilarity = false;
  // The content of the same file in the next build that holds other bytes
  // of it: what a step from this content makes. -1 when none.
  int next = -1;
};

// A file of the new build that some old build lacks or holds other bytes of.
struct ShippedFile {
  std::string path;  // GBK, '\' between parts: the new build's spelling
  std::string shown;
  std::string local;
  uint64_t size = 0;
  unsigned char md5[16] = {};
  // Own paths first, each group in the order of its first build.
  std::vector<OldContent> contents;
  uint32_t current = 0;    // builds that hold the new bytes already
  uint32_t unreached = 0;  // builds with neither the file nor a source for it
};

// A file some old builds hold and the new build dropped.
struct RemovedFile {
  std::string path;  // GBK, the spelling of the first build that holds it
  std::string shown;
  std::vector<OldContent> contents;  // each distinct content, by first build
};

struct BuildsDiff {
  std::vector<std::string> buildNames;  // per old build, base first
  // In the order of their entries: bytewise by path, except that a file made
  // from another's old bytes comes before that file's own entries.
  std::vector<ShippedFile> shipped;
  std::vector<RemovedFile> removed;  // bytewise by path
  size_t unchanged = 0;              // files every old build holds as they are
  std::vector<std::string> notes;    // files left out on purpose
};

// The release trees of a diff and the comparisons between them.
class ReleaseBuilds {
 public:
  // Reads every tree and checks each old one's shape against the new one.
  // False, with one message per problem.
  bool Read(const std::vector<std::string>& oldDirs, const std::string& newDir,
            std::vector<std::string>* notes, std::vector<std::string>* problems);

  size_t OldCount() const { return trees_.size() - 1; }
  // Old builds 0..OldCount()-1, then the new build.
  ReleaseTree& Tree(size_t index) { return *trees_[index]; }
  LikenessCache& Likeness() { return likeness_; }

  // What a patch from the builds `olds` (indexes of Tree, release order) to
  // the build `target` ships; bit n of a content's builds is olds[n]. False,
  // with one message per problem, where a path cannot be an entry's, a file
  // cannot be read or is too large for a patch.
  bool Diff(const std::vector<size_t>& olds, size_t target, BuildsDiff* diff,
            std::vector<std::string>* problems);
  // From every old build to the new one.
  bool Diff(BuildsDiff* diff, std::vector<std::string>* problems);

 private:
  std::vector<std::unique_ptr<ReleaseTree>> trees_;
  LikenessCache likeness_;
};
