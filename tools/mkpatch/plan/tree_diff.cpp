#include "mkpatch/plan/tree_diff.h"

#include <algorithm>
#include <map>

#include "mkpatch/fs/byte_compare.h"
#include "mkpatch/fs/file_system.h"
#include "mkpatch/fs/name_encoding.h"
#include "update/base/ascii_case.h"
#include "update/format/entry_descriptor.h"
#include "update/format/entry_name.h"
#include "update/format/payload.h"

namespace {

// The updater keeps its record of the installed version here.
const char kVersionRecord[] = "config/client.ini";

struct TreeFile {
  std::string relative;  // UTF-8, '/' between parts, as the tree spells it
  std::string local;
  uint64_t size = 0;
};

struct Tree {
  const char* label;  // "OLD_DIR" or "NEW_DIR"
  std::string root;
  std::map<std::string, TreeFile> files;           // folded relative path -> file
  std::map<std::string, std::string> directories;  // folded directory -> a file below it
};

// The relative paths are UTF-8, whose bytes above 0x7F never look like ASCII.
std::string Fold(const std::string& utf8) { return FoldAsciiCase(utf8); }

std::string Shown(const std::string& relative) {
  std::string shown = relative;
  std::replace(shown.begin(), shown.end(), '/', '\\');
  return shown;
}

void ReadTree(Tree* tree, std::vector<std::string>* notes, std::vector<std::string>* problems) {
  const std::string where = std::string(tree->label) + " " + tree->root;
  if (!IsDirectory(tree->root)) {
    problems->push_back(where + " is not a directory");
    return;
  }
  std::vector<std::string> relatives, links;
  std::string error;
  if (!ListFilesBelow(tree->root, &relatives, &error, &links)) {
    problems->push_back(error);
    return;
  }
  for (const std::string& link : links) {
    problems->push_back(Shown(link) + " in " + where +
                        " is a symbolic link; mkpatch does not follow links in the game's trees");
  }
  for (const std::string& relative : relatives) {
    const std::string key = Fold(relative);
    if (key == kVersionRecord) {
      notes->push_back(Shown(relative) + " in " + where +
                       " is the updater's own record of the installed version: not shipped");
      continue;
    }
    TreeFile file;
    file.relative = relative;
    file.local = JoinPath(tree->root, relative);
    UniqueFile open = OpenFile(file.local, "rb");
    if (!open || !FileSize(open.Get(), &file.size)) {
      problems->push_back("cannot read " + file.local);
      continue;
    }
    auto inserted = tree->files.emplace(key, file);
    if (!inserted.second) {
      problems->push_back(where + " holds both " + Shown(inserted.first->second.relative) +
                          " and " + Shown(relative) + ", one file to Windows");
    }
    for (size_t slash = key.find('/'); slash != std::string::npos;
         slash = key.find('/', slash + 1)) {
      tree->directories.emplace(key.substr(0, slash), relative);
    }
  }
  for (const auto& directory : tree->directories) {
    auto file = tree->files.find(directory.first);
    if (file != tree->files.end()) {
      problems->push_back(where + " holds the file " + Shown(file->second.relative) +
                          " and the directory of " + Shown(directory.second) +
                          ", one name to Windows");
    }
  }
}

// The updater installs every file before it removes any, so no file may need
// a directory where the old build has a file, nor the other way round.
void CheckShapes(const Tree& oldTree, const Tree& newTree, std::vector<std::string>* problems) {
  for (const auto& directory : newTree.directories) {
    auto file = oldTree.files.find(directory.first);
    if (file == oldTree.files.end()) continue;
    problems->push_back(
        Shown(directory.second) + " in NEW_DIR needs a directory where OLD_DIR has the file " +
        Shown(file->second.relative) + "; the updater removes files only after installing");
  }
  for (const auto& directory : oldTree.directories) {
    auto file = newTree.files.find(directory.first);
    if (file == newTree.files.end()) continue;
    problems->push_back(
        Shown(file->second.relative) + " in NEW_DIR is a file where OLD_DIR has the directory of " +
        Shown(directory.second) + "; the updater removes files only after installing");
  }
}

// The path as the descriptor holds it, checked as the updater checks names.
bool EntryPath(const std::string& relative, std::string* gbk, std::vector<std::string>* problems) {
  const std::string shown = Shown(relative);
  if (!Utf8ToGbk(shown, gbk)) {
    problems->push_back("path " + shown + " cannot be written in code page 936");
    return false;
  }
  if (gbk->size() > ENTRY_PATH_MAX) {
    problems->push_back("path " + shown + " is " + std::to_string(gbk->size()) +
                        " bytes in code page 936; the limit is " + std::to_string(ENTRY_PATH_MAX));
    return false;
  }
  if (const char* problem = EntryNameProblem(gbk->c_str(), gbk->size() + 1)) {
    problems->push_back("path " + shown + " is refused by the updater: " + problem);
    return false;
  }
  return true;
}

bool SameBytes(const std::string& a, const std::string& b, uint64_t size, bool* same) {
  UniqueFile left = OpenFile(a, "rb");
  UniqueFile right = OpenFile(b, "rb");
  return left && right && CompareBytes(left.Get(), 0, right.Get(), 0, size, same);
}

std::string FoldedName(const std::string& shownPath) {
  const size_t separator = shownPath.rfind('\\');  // UTF-8: never inside a character
  return Fold(separator == std::string::npos ? shownPath : shownPath.substr(separator + 1));
}

std::string FoldedFolder(const std::string& shownPath) {
  const size_t separator = shownPath.rfind('\\');
  return separator == std::string::npos ? std::string() : Fold(shownPath.substr(0, separator));
}

std::string Extension(const std::string& foldedName) {
  const size_t dot = foldedName.rfind('.');
  return dot == std::string::npos ? std::string() : foldedName.substr(dot);
}

// How alike a removed file is to a new one as a versioned name goes
// (libcore-8.16.dll for libcore.dll or libcore-8.15.dll): the length of
// their names' common beginning, for files in one folder with one extension
// and sizes within a factor of two; 0 when they are not alike.
size_t Likeness(const ChangedFile& removed, const ChangedFile& file) {
  const std::string a = FoldedName(removed.shownPath), b = FoldedName(file.shownPath);
  if (FoldedFolder(removed.shownPath) != FoldedFolder(file.shownPath) ||
      Extension(a) != Extension(b) || removed.oldSize > 2 * file.newSize ||
      file.newSize > 2 * removed.oldSize) {
    return 0;
  }
  size_t common = 0;
  while (common < a.size() && common < b.size() && a[common] == b[common]) ++common;
  return common;
}

// A file the new build moved or renamed ships best as a delta against the
// file the old build had in another place: one with the same bytes, else one
// of the same name in another folder, else the most alike name beside it.
// The encoder still ships the file whole when that is smaller.
void FindRenameSources(TreeDiff* diff) {
  const size_t kLeastLikeness = 4;
  for (ChangedFile& file : diff->shipped) {
    if (file.change != TreeChange::Added || file.newSize == 0) continue;
    const ChangedFile* byBytes = nullptr;
    const ChangedFile* byName = nullptr;
    const ChangedFile* byLikeness = nullptr;
    size_t bestLikeness = kLeastLikeness - 1;
    for (const ChangedFile& removed : diff->removed) {
      const size_t likeness = Likeness(removed, file);
      if (likeness > bestLikeness) {
        bestLikeness = likeness;
        byLikeness = &removed;
      }
      bool same = false;
      if (byBytes == nullptr && removed.oldSize == file.newSize &&
          SameBytes(removed.oldFile, file.newFile, file.newSize, &same) && same) {
        byBytes = &removed;
      }
      if (byName == nullptr && FoldedName(removed.shownPath) == FoldedName(file.shownPath)) {
        byName = &removed;
      }
    }
    const ChangedFile* source = byBytes != nullptr  ? byBytes
                                : byName != nullptr ? byName
                                                    : byLikeness;
    if (source == nullptr) continue;
    file.oldFile = source->oldFile;
    file.oldSize = source->oldSize;
    file.sourcePath = source->path;
    file.sourceShown = source->shownPath;
  }
}

bool ByPath(const ChangedFile& a, const ChangedFile& b) { return a.path < b.path; }

}  // namespace

bool DiffTrees(const std::string& oldDir, const std::string& newDir, TreeDiff* diff,
               std::vector<std::string>* problems) {
  *diff = TreeDiff();
  const size_t problemsBefore = problems->size();
  Tree oldTree{"OLD_DIR", oldDir, {}, {}};
  Tree newTree{"NEW_DIR", newDir, {}, {}};
  ReadTree(&oldTree, &diff->notes, problems);
  ReadTree(&newTree, &diff->notes, problems);
  if (problems->size() != problemsBefore) return false;
  CheckShapes(oldTree, newTree, problems);

  for (const auto& item : newTree.files) {
    const TreeFile& now = item.second;
    auto before = oldTree.files.find(item.first);
    ChangedFile file;
    file.change = TreeChange::Added;
    file.newFile = now.local;
    file.newSize = now.size;
    if (before != oldTree.files.end()) {
      bool same = false;
      if (before->second.size == now.size &&
          !SameBytes(before->second.local, now.local, now.size, &same)) {
        problems->push_back("cannot read " + before->second.local + " or " + now.local);
        continue;
      }
      if (same) {
        ++diff->unchanged;
        continue;
      }
      file.change = TreeChange::Changed;
      file.oldFile = before->second.local;
      file.oldSize = before->second.size;
    }
    if (now.size + PATCH_ENTRY_HEADER_SIZE + PATCH_TRAILER_SIZE >= PATCH_FILE_SIZE_LIMIT) {
      problems->push_back(now.local + " is " + std::to_string(now.size) +
                          " bytes; an updater holds less than 2 GiB");
      continue;
    }
    if (file.oldSize > UINT32_MAX) {
      problems->push_back(file.oldFile + " is 4 GiB or larger; a patch records smaller sizes");
      continue;
    }
    if (!EntryPath(now.relative, &file.path, problems)) continue;
    file.shownPath = Shown(now.relative);
    diff->shipped.push_back(file);
  }
  for (const auto& item : oldTree.files) {
    if (newTree.files.count(item.first) != 0) continue;
    ChangedFile file;
    file.change = TreeChange::Removed;
    file.oldFile = item.second.local;
    file.oldSize = item.second.size;
    if (file.oldSize > UINT32_MAX) {
      problems->push_back(file.oldFile + " is 4 GiB or larger; a patch records smaller sizes");
      continue;
    }
    if (!EntryPath(item.second.relative, &file.path, problems)) continue;
    file.shownPath = Shown(item.second.relative);
    diff->removed.push_back(file);
  }
  std::sort(diff->shipped.begin(), diff->shipped.end(), ByPath);
  std::sort(diff->removed.begin(), diff->removed.end(), ByPath);
  FindRenameSources(diff);
  return problems->size() == problemsBefore;
}
