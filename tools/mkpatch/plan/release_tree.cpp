#include "mkpatch/plan/release_tree.h"

#include <algorithm>
#include <cstring>

#include "mkpatch/fs/file_digest.h"
#include "mkpatch/fs/file_system.h"
#include "mkpatch/fs/name_encoding.h"
#include "mkpatch/inspect/profile_string.h"
#include "update/format/entry_descriptor.h"
#include "update/format/entry_name.h"

namespace {

// The updater keeps its record of the installed version here.
const char kVersionRecord[] = "config/client.ini";
// The updater reads the version into a buffer of this size.
const size_t kVersionBufferSize = 260;

// The version the tree's own record names, or empty.
std::string RecordedVersion(const std::string& local) {
  UniqueFile file = OpenFile(local, "rb");
  uint64_t size = 0;
  if (!file || !FileSize(file.Get(), &size) || size > (1u << 20)) return "";
  std::string bytes(static_cast<size_t>(size), '\0');
  if (size > 0 && std::fread(&bytes[0], 1, bytes.size(), file.Get()) != bytes.size()) return "";
  std::string version;
  if (!ReadProfileString(bytes, "Version", "GameVersion", kVersionBufferSize, &version)) return "";
  return version;
}

std::string FolderName(const std::string& root) {
  std::string trimmed = root;
  while (trimmed.size() > 1 && (trimmed.back() == '/' || trimmed.back() == '\\')) {
    trimmed.pop_back();
  }
  return BaseName(trimmed);
}

}  // namespace

std::string ShownTreePath(const std::string& relative) {
  std::string shown = relative;
  std::replace(shown.begin(), shown.end(), '/', '\\');
  return shown;
}

bool ReadReleaseTree(const std::string& label, const std::string& root, ReleaseTree* tree,
                     std::vector<std::string>* notes, std::vector<std::string>* problems) {
  const size_t problemsBefore = problems->size();
  tree->label = label;
  tree->root = root;
  tree->buildName = FolderName(root);
  const std::string where = label + " " + root;
  if (!IsDirectory(root)) {
    problems->push_back(where + " is not a directory");
    return false;
  }
  std::vector<std::string> relatives, others, links;
  std::string error;
  if (!ListFilesBelow(root, &relatives, &others, &error, &links)) {
    problems->push_back(error);
    return false;
  }
  for (const std::string& other : others) {
    problems->push_back("cannot read " + JoinPath(root, other) +
                        ": neither a file nor a directory");
  }
  for (const std::string& link : links) {
    problems->push_back(ShownTreePath(link) + " in " + where +
                        " is a symbolic link; mkpatch does not follow links in the game's trees");
  }
  for (const std::string& relative : relatives) {
    const std::string key = FoldUtf8Path(relative);
    if (key == kVersionRecord) {
      notes->push_back(ShownTreePath(relative) + " in " + where +
                       " is the updater's own record of the installed version: not shipped");
      const std::string version = RecordedVersion(JoinPath(root, relative));
      if (!version.empty()) tree->buildName = version;
      continue;
    }
    TreeFile file;
    file.relative = relative;
    file.key = key;
    file.local = JoinPath(root, relative);
    if (!Utf8ToGbk(ShownTreePath(relative), &file.gbkPath)) file.gbkPath.clear();
    UniqueFile open = OpenFile(file.local, "rb");
    if (!open || !FileSize(open.Get(), &file.size)) {
      problems->push_back("cannot read " + file.local);
      continue;
    }
    auto inserted = tree->files.emplace(key, file);
    if (!inserted.second) {
      problems->push_back(where + " holds both " + ShownTreePath(inserted.first->second.relative) +
                          " and " + ShownTreePath(relative) + ", one file to Windows");
    }
    for (size_t slash = key.find('/'); slash != std::string::npos;
         slash = key.find('/', slash + 1)) {
      tree->directories.emplace(key.substr(0, slash), relative);
    }
  }
  for (const auto& directory : tree->directories) {
    auto file = tree->files.find(directory.first);
    if (file != tree->files.end()) {
      problems->push_back(where + " holds the file " + ShownTreePath(file->second.relative) +
                          " and the directory of " + ShownTreePath(directory.second) +
                          ", one name to Windows");
    }
  }
  return problems->size() == problemsBefore;
}

void CheckTreeShapes(const ReleaseTree& oldTree, const ReleaseTree& newTree,
                     std::vector<std::string>* problems) {
  for (const auto& directory : newTree.directories) {
    auto file = oldTree.files.find(directory.first);
    if (file == oldTree.files.end()) continue;
    problems->push_back(ShownTreePath(directory.second) + " in " + newTree.label +
                        " needs a directory where " + oldTree.label + " has the file " +
                        ShownTreePath(file->second.relative) +
                        "; the updater removes files only after installing");
  }
  for (const auto& directory : oldTree.directories) {
    auto file = newTree.files.find(directory.first);
    if (file == newTree.files.end()) continue;
    problems->push_back(ShownTreePath(file->second.relative) + " in " + newTree.label +
                        " is a file where " + oldTree.label + " has the directory of " +
                        ShownTreePath(directory.second) +
                        "; the updater removes files only after installing");
  }
}

bool DigestTreeFile(TreeFile* file) {
  if (file->digested) return true;
  uint64_t size = 0;
  if (!DigestFile(file->local, &size, file->md5) || size != file->size) return false;
  file->digested = true;
  return true;
}

bool SameTreeBytes(TreeFile* a, TreeFile* b, bool* unreadable) {
  *unreadable = false;
  if (a->size != b->size) return false;
  if (!DigestTreeFile(a) || !DigestTreeFile(b)) {
    *unreadable = true;
    return false;
  }
  return std::memcmp(a->md5, b->md5, sizeof a->md5) == 0;
}

bool TreeEntryPath(const std::string& relative, std::string* gbk,
                   std::vector<std::string>* problems) {
  // A name holds '\' only outside Windows: shown with '\' between the parts,
  // it would read as two names, and perhaps as another file's path.
  if (relative.find('\\') != std::string::npos) {
    problems->push_back("path " + relative + " holds \\ in a name, which Windows does not allow");
    return false;
  }
  const std::string shown = ShownTreePath(relative);
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
