#include "mkpatch/plan/tree_diff.h"

#include <algorithm>

#include "mkpatch/fs/file_system.h"

namespace {

// The least resemblance that makes a file worth a delta attempt: near-copies
// and builds of one program share far more, unrelated files almost nothing.
constexpr uint32_t kLeastResemblance = kWholeResemblance / 8;
// Sizes further apart than this leave too little to share.
constexpr uint64_t kSizeFactor = 4;
constexpr size_t kLeastLikeness = 4;

// The last part of a file's key, and the folder before it.
std::string FoldedName(const TreeFile& file) {
  const size_t separator = file.key.rfind('/');  // UTF-8: never inside a character
  return separator == std::string::npos ? file.key : file.key.substr(separator + 1);
}

std::string FoldedFolder(const TreeFile& file) {
  const size_t separator = file.key.rfind('/');
  return separator == std::string::npos ? std::string() : file.key.substr(0, separator);
}

std::string Extension(const std::string& foldedName) {
  const size_t dot = foldedName.rfind('.');
  return dot == std::string::npos ? std::string() : foldedName.substr(dot);
}

// How alike a removed file is to a new one as a versioned name goes
// (libcore-8.16.dll for libcore.dll or libcore-8.15.dll): the length of
// their names' common beginning, for files in one folder with one extension
// and sizes within a factor of two; 0 when they are not alike.
size_t Likeness(const TreeFile& removed, const TreeFile& file) {
  const std::string a = FoldedName(removed), b = FoldedName(file);
  if (FoldedFolder(removed) != FoldedFolder(file) || Extension(a) != Extension(b) ||
      removed.size > 2 * file.size || file.size > 2 * removed.size) {
    return 0;
  }
  size_t common = 0;
  while (common < a.size() && common < b.size() && a[common] == b[common]) ++common;
  return common;
}

// Entries are ordered by their GBK paths; so are the candidates, so that
// the first of equals is the one mkpatch always took.
bool ByEntryPath(const TreeFile* a, const TreeFile* b) {
  return a->gbkPath != b->gbkPath ? a->gbkPath < b->gbkPath : a->relative < b->relative;
}

class SourceFinder {
 public:
  SourceFinder(ReleaseTree& older, const std::vector<std::string>& removed, LikenessCache* likeness,
               std::vector<std::string>* problems)
      : likeness_(likeness), problems_(problems) {
    for (const std::string& key : removed) removed_.push_back(&older.files.at(key));
    std::sort(removed_.begin(), removed_.end(), ByEntryPath);
    for (auto& item : older.files) all_.push_back(&item.second);
    std::sort(all_.begin(), all_.end(), ByEntryPath);
  }

  // The source of an added file, or null; false when a file cannot be read.
  bool Find(TreeFile& file, PairFile* pair) {
    if (file.size == 0) return true;
    const TreeFile* byBytes = nullptr;
    const TreeFile* byName = nullptr;
    const TreeFile* byLikeness = nullptr;
    size_t bestLikeness = kLeastLikeness - 1;
    for (TreeFile* removed : removed_) {
      const size_t likeness = Likeness(*removed, file);
      if (likeness > bestLikeness) {
        bestLikeness = likeness;
        byLikeness = removed;
      }
      bool unreadable = false;
      if (byBytes == nullptr && SameTreeBytes(removed, &file, &unreadable)) byBytes = removed;
      if (unreadable) return Unreadable(*removed, file);
      if (byName == nullptr && FoldedName(*removed) == FoldedName(file)) {
        byName = removed;
      }
    }
    const TreeFile* source = byBytes != nullptr ? byBytes : byName != nullptr ? byName : byLikeness;
    if (source == nullptr) {
      if (!MostAlike(file, &source)) return false;
      pair->bySimilarity = source != nullptr;
    }
    if (source != nullptr) pair->sourceKey = source->key;
    return true;
  }

 private:
  // The file of the older tree whose content is most like `file`'s, or null.
  bool MostAlike(const TreeFile& file, const TreeFile** best) {
    *best = nullptr;
    const LikenessSketch* wanted = nullptr;
    if (!likeness_->Sketch(file, &wanted)) return Unreadable(file, file);
    uint32_t bestResemblance = kLeastResemblance - 1;
    for (const TreeFile* candidate : all_) {
      if (candidate->size == 0 || candidate->size > kSizeFactor * file.size ||
          file.size > kSizeFactor * candidate->size) {
        continue;
      }
      const LikenessSketch* sketch = nullptr;
      if (!likeness_->Sketch(*candidate, &sketch)) return Unreadable(*candidate, *candidate);
      const uint32_t resemblance = Resemblance(*wanted, *sketch);
      if (resemblance > bestResemblance) {
        bestResemblance = resemblance;
        *best = candidate;
      }
    }
    return true;
  }

  bool Unreadable(const TreeFile& a, const TreeFile& b) {
    problems_->push_back("cannot read " + a.local + (&a == &b ? "" : " or " + b.local));
    return false;
  }

  LikenessCache* likeness_;
  std::vector<std::string>* problems_;
  std::vector<TreeFile*> removed_;
  std::vector<TreeFile*> all_;
};

}  // namespace

bool LikenessCache::Sketch(const TreeFile& file, const LikenessSketch** sketch) {
  auto found = sketches_.find(file.local);
  if (found == sketches_.end()) {
    UniqueFile open = OpenFile(file.local, "rb");
    LikenessSketch made;
    if (!open || !SketchFile(open.Get(), &made)) return false;
    found = sketches_.emplace(file.local, std::move(made)).first;
  }
  *sketch = &found->second;
  return true;
}

bool CompareTrees(ReleaseTree& older, ReleaseTree& newer, LikenessCache* likeness, TreePair* pair,
                  std::vector<std::string>* problems) {
  *pair = TreePair();
  const size_t problemsBefore = problems->size();
  std::vector<std::string> added;
  for (auto& item : newer.files) {
    PairFile file;
    auto before = older.files.find(item.first);
    if (before == older.files.end()) {
      file.state = PairState::Added;
      added.push_back(item.first);
    } else {
      bool unreadable = false;
      const bool same = SameTreeBytes(&before->second, &item.second, &unreadable);
      if (unreadable) {
        problems->push_back("cannot read " + before->second.local + " or " + item.second.local);
        continue;
      }
      file.state = same ? PairState::Same : PairState::Changed;
    }
    pair->files.emplace(item.first, file);
  }
  for (const auto& item : older.files) {
    if (newer.files.count(item.first) == 0) pair->removed.push_back(item.first);
  }
  if (added.empty()) return problems->size() == problemsBefore;
  SourceFinder finder(older, pair->removed, likeness, problems);
  for (const std::string& key : added) {
    if (!finder.Find(newer.files.at(key), &pair->files.at(key))) break;
  }
  return problems->size() == problemsBefore;
}
