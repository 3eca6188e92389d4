#include "mkpatch/plan/build_diff.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "mkpatch/plan/entry_order.h"
#include "update/base/gbk_text.h"

namespace {

uint32_t Bit(size_t build) { return uint32_t(1) << build; }

// Builds 0 to count - 1; all 32 bits for the most a patch names.
uint32_t FirstBuilds(size_t count) { return count < 32 ? Bit(count) - 1 : ~uint32_t(0); }

bool SameContent(const OldContent& a, const OldContent& b) {
  return a.ownPath == b.ownPath && a.size == b.size &&
         std::memcmp(a.md5, b.md5, sizeof a.md5) == 0 &&
         (a.ownPath || FoldGbkName(a.path) == FoldGbkName(b.path));
}

// Adds `build`'s bytes to the contents, beside equal ones.
void AddContent(std::vector<OldContent>* contents, const OldContent& content) {
  for (OldContent& known : *contents) {
    if (SameContent(known, content)) {
      known.builds |= content.builds;
      return;
    }
  }
  contents->push_back(content);
}

// The highest build that holds the content.
size_t LastBuild(uint32_t builds) {
  size_t last = 0;
  for (size_t i = 0; i < kMostOldBuilds; ++i) {
    if (builds & Bit(i)) last = i;
  }
  return last;
}

// Each content's step: to the file's bytes at its path in the first later
// build that holds other bytes there, unless a build holds the new bytes
// before it (then the content's own delta is the way a release would go).
void LinkSteps(ShippedFile* file, size_t oldCount) {
  for (OldContent& content : file->contents) {
    content.next = -1;
    for (size_t build = LastBuild(content.builds) + 1; build < oldCount; ++build) {
      if (file->current & Bit(build)) break;
      int found = -1;
      for (size_t i = 0; i < file->contents.size(); ++i) {
        const OldContent& other = file->contents[i];
        if (other.ownPath && (other.builds & Bit(build))) found = static_cast<int>(i);
      }
      if (found < 0) continue;
      const OldContent& target = file->contents[found];
      // Bytes a moved file had elsewhere may be its later bytes at its path.
      if (target.size != content.size ||
          std::memcmp(target.md5, content.md5, sizeof content.md5) != 0) {
        content.next = found;
      }
      break;
    }
  }
}

// Own paths first, each kind by its first build: a player is found by the
// bytes at the file's path before those of the file it was made from.
void SortContents(std::vector<OldContent>* contents) {
  std::stable_sort(contents->begin(), contents->end(),
                   [](const OldContent& a, const OldContent& b) {
                     if (a.ownPath != b.ownPath) return a.ownPath;
                     return (a.builds & (~a.builds + 1)) < (b.builds & (~b.builds + 1));
                   });
}

}  // namespace

bool ReleaseBuilds::Read(const std::vector<std::string>& oldDirs, const std::string& newDir,
                         std::vector<std::string>* notes, std::vector<std::string>* problems) {
  const size_t problemsBefore = problems->size();
  trees_.clear();
  for (size_t i = 0; i <= oldDirs.size(); ++i) {
    const bool isNew = i == oldDirs.size();
    const std::string label = isNew ? "NEW_DIR" : i == 0 ? "OLD_DIR" : "--from";
    trees_.push_back(std::unique_ptr<ReleaseTree>(new ReleaseTree()));
    ReadReleaseTree(label, isNew ? newDir : oldDirs[i], trees_.back().get(), notes, problems);
  }
  if (problems->size() != problemsBefore) return false;
  for (size_t i = 0; i < OldCount(); ++i) CheckTreeShapes(Tree(i), Tree(OldCount()), problems);
  return problems->size() == problemsBefore;
}

bool ReleaseBuilds::Diff(BuildsDiff* diff, std::vector<std::string>* problems) {
  std::vector<size_t> olds;
  for (size_t i = 0; i < OldCount(); ++i) olds.push_back(i);
  return Diff(olds, OldCount(), diff, problems);
}

bool ReleaseBuilds::Diff(const std::vector<size_t>& olds, size_t target, BuildsDiff* diff,
                         std::vector<std::string>* problems) {
  *diff = BuildsDiff();
  const size_t problemsBefore = problems->size();
  const size_t oldCount = olds.size();
  ReleaseTree& newTree = Tree(target);
  std::vector<TreePair> pairs(oldCount);
  for (size_t build = 0; build < oldCount; ++build) {
    diff->buildNames.push_back(Tree(olds[build]).buildName);
    if (!CompareTrees(Tree(olds[build]), newTree, &likeness_, &pairs[build], problems)) {
      return false;
    }
  }

  std::vector<ShippedFile> shipped;
  for (auto& item : newTree.files) {
    TreeFile& now = item.second;
    ShippedFile file;
    for (size_t build = 0; build < oldCount; ++build) {
      const PairFile& pair = pairs[build].files.at(item.first);
      if (pair.state == PairState::Same) {
        file.current |= Bit(build);
        continue;
      }
      if (pair.state == PairState::Added && pair.sourceKey.empty()) {
        file.unreached |= Bit(build);
        continue;
      }
      const bool ownPath = pair.state == PairState::Changed;
      TreeFile& old = Tree(olds[build]).files.at(ownPath ? item.first : pair.sourceKey);
      if (!DigestTreeFile(&old)) {
        problems->push_back("cannot read " + old.local);
        continue;
      }
      OldContent content;
      content.ownPath = ownPath;
      content.shown = ShownTreePath(old.relative);
      content.local = old.local;
      content.size = old.size;
      std::memcpy(content.md5, old.md5, sizeof content.md5);
      content.builds = Bit(build);
      content.bySimilarity = pair.bySimilarity;
      // A source whose path no entry can name is no source: the file that
      // stays there is not the patch's business.
      std::vector<std::string> sourceProblems;
      if (!ownPath && !TreeEntryPath(old.relative, &content.path, &sourceProblems)) {
        file.unreached |= Bit(build);
        continue;
      }
      AddContent(&file.contents, content);
    }
    if (file.current == FirstBuilds(oldCount)) {
      ++diff->unchanged;
      continue;
    }
    if (!DigestTreeFile(&now)) {
      problems->push_back("cannot read " + now.local);
      continue;
    }
    if (!TreeEntryPath(now.relative, &file.path, problems)) continue;
    file.shown = ShownTreePath(now.relative);
    file.local = now.local;
    file.size = now.size;
    std::memcpy(file.md5, now.md5, sizeof file.md5);
    for (OldContent& content : file.contents) {
      if (content.ownPath) content.path = file.path;
    }
    SortContents(&file.contents);
    shipped.push_back(std::move(file));
  }
  std::sort(shipped.begin(), shipped.end(),
            [](const ShippedFile& a, const ShippedFile& b) { return a.path < b.path; });

  // A file made from another file's old bytes reads them before that file's
  // own entries replace them.
  std::map<std::string, size_t> byFoldedPath;
  for (size_t i = 0; i < shipped.size(); ++i) {
    byFoldedPath[FoldGbkName(shipped[i].path)] = i;
  }
  std::vector<ReadsBefore> reads;
  for (size_t i = 0; i < shipped.size(); ++i) {
    for (const OldContent& content : shipped[i].contents) {
      if (content.ownPath) continue;
      auto writer = byFoldedPath.find(FoldGbkName(content.path));
      if (writer != byFoldedPath.end()) reads.push_back({i, writer->second});
    }
  }
  std::vector<ReadsBefore> dropped;
  const std::vector<size_t> order = ReadersFirst(shipped.size(), reads, &dropped);
  for (const ReadsBefore& read : dropped) {
    // No order lets this file read the other's old bytes: the builds it
    // would have come from take the whole file.
    ShippedFile& reader = shipped[read.reader];
    const std::string writer = FoldGbkName(shipped[read.writer].path);
    std::vector<OldContent> kept;
    for (OldContent& content : reader.contents) {
      if (!content.ownPath && FoldGbkName(content.path) == writer) {
        reader.unreached |= content.builds;
      } else {
        kept.push_back(std::move(content));
      }
    }
    reader.contents = std::move(kept);
  }
  for (size_t index : order) {
    LinkSteps(&shipped[index], oldCount);
    diff->shipped.push_back(std::move(shipped[index]));
  }

  std::map<std::string, RemovedFile> removed;       // by GBK path of the first spelling
  std::map<std::string, std::string> removedPaths;  // folded -> that GBK path
  for (size_t build = 0; build < oldCount; ++build) {
    for (const std::string& key : pairs[build].removed) {
      TreeFile& old = Tree(olds[build]).files.at(key);
      auto known = removedPaths.find(key);
      if (known == removedPaths.end()) {
        std::string path;
        if (!TreeEntryPath(old.relative, &path, problems)) continue;
        known = removedPaths.emplace(key, path).first;
        RemovedFile& file = removed[path];
        file.path = path;
        file.shown = ShownTreePath(old.relative);
      }
      if (!DigestTreeFile(&old)) {
        problems->push_back("cannot read " + old.local);
        continue;
      }
      OldContent content;
      content.path = known->second;
      content.shown = removed[known->second].shown;
      content.local = old.local;
      content.size = old.size;
      std::memcpy(content.md5, old.md5, sizeof content.md5);
      content.builds = Bit(build);
      AddContent(&removed[known->second].contents, content);
    }
  }
  for (auto& item : removed) diff->removed.push_back(std::move(item.second));
  return problems->size() == problemsBefore;
}
