#include "mkpatch/fs/file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "mkpatch/fs/name_encoding.h"

namespace {
bool IsPathSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

#ifdef _WIN32
bool CloseFindHandle(HANDLE handle) { return FindClose(handle) != FALSE; }
struct FindHandleValues {
  static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
  static bool Owns(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
};
using UniqueFindHandle = UniqueResource<HANDLE, CloseFindHandle, FindHandleValues>;

std::wstring Wide(const std::string& utf8) { return Utf8ToWide(utf8); }

DWORD Attributes(const std::string& path) { return GetFileAttributesW(Wide(path).c_str()); }
#endif
}  // namespace

UniqueFile OpenFile(const std::string& path, const char* mode) {
#ifdef _WIN32
  std::wstring wideMode(mode, mode + std::strlen(mode));
  return UniqueFile(_wfopen(Wide(path).c_str(), wideMode.c_str()));
#else
  return UniqueFile(std::fopen(path.c_str(), mode));
#endif
}

bool SeekTo(FILE* file, uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool FileSize(FILE* file, uint64_t* size) {
#ifdef _WIN32
  if (_fseeki64(file, 0, SEEK_END) != 0) return false;
  __int64 end = _ftelli64(file);
#else
  if (fseeko(file, 0, SEEK_END) != 0) return false;
  off_t end = ftello(file);
#endif
  if (end < 0) return false;
  *size = static_cast<uint64_t>(end);
  return SeekTo(file, 0);
}

bool IsDirectory(const std::string& path) {
#ifdef _WIN32
  DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
#else
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
#endif
}

bool IsRegularFile(const std::string& path) {
#ifdef _WIN32
  DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
#else
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
#endif
}

bool PathExists(const std::string& path) {
#ifdef _WIN32
  return Attributes(path) != INVALID_FILE_ATTRIBUTES;
#else
  struct stat info;
  return stat(path.c_str(), &info) == 0;
#endif
}

bool IsSymbolicLink(const std::string& path) {
#ifdef _WIN32
  DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
#else
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
#endif
}

bool IsReadOnlyOrHidden(const std::string& path) {
#ifdef _WIN32
  DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)) != 0;
#else
  struct stat info;
  return stat(path.c_str(), &info) == 0 && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
#endif
}

namespace {

#ifndef _WIN32
bool CloseDirectory(DIR* dir) { return closedir(dir) == 0; }
using UniqueDir = UniqueResource<DIR*, CloseDirectory>;
#endif

// Children of one directory: names of files and of subdirectories. With
// `links`, symbolic links go there and are not followed; with `others`, what
// is neither a file nor a directory goes there.
bool ListDirectory(const std::string& directory, std::vector<std::string>* files,
                   std::vector<std::string>* subdirectories, std::string* error,
                   std::vector<std::string>* links = nullptr,
                   std::vector<std::string>* others = nullptr) {
#ifdef _WIN32
  WIN32_FIND_DATAW data;
  UniqueFindHandle found(FindFirstFileW(Wide(JoinPath(directory, "*")).c_str(), &data));
  if (!found) {
    *error = "cannot read directory " + directory;
    return false;
  }
  do {
    std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    std::string utf8 = WideToUtf8(name);
    if (links && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      links->push_back(utf8);
    } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      subdirectories->push_back(utf8);
    } else {
      files->push_back(utf8);
    }
  } while (FindNextFileW(found.Get(), &data));
#else
  UniqueDir dir(opendir(directory.c_str()));
  if (!dir) {
    *error = "cannot read directory " + directory + ": " + std::strerror(errno);
    return false;
  }
  while (struct dirent* item = readdir(dir.Get())) {
    std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    std::string path = JoinPath(directory, name);
    if (links && IsSymbolicLink(path)) {
      links->push_back(name);
    } else if (IsDirectory(path)) {
      subdirectories->push_back(name);
    } else if (IsRegularFile(path)) {
      files->push_back(name);
    } else if (links && !PathExists(path)) {
      links->push_back(name);  // vanished, or a link that changed under us
    } else if (others) {
      others->push_back(name);
    }
  }
#endif
  return true;
}

bool ListBelow(const std::string& root, const std::string& relative,
               std::vector<std::string>* result, std::vector<std::string>* others,
               std::string* error, std::vector<std::string>* links, int depth) {
  // A directory loop through links would recurse forever.
  if (depth > 64) {
    *error = "directories nested too deeply below " + root;
    return false;
  }
  std::vector<std::string> files, subdirectories, linkNames, otherNames;
  std::string directory = relative.empty() ? root : JoinPath(root, relative);
  if (!ListDirectory(directory, &files, &subdirectories, error, links ? &linkNames : nullptr,
                     &otherNames)) {
    return false;
  }
  auto below = [&](const std::string& name) {
    return relative.empty() ? name : relative + "/" + name;
  };
  for (const std::string& name : files) result->push_back(below(name));
  for (const std::string& name : linkNames) links->push_back(below(name));
  for (const std::string& name : otherNames) others->push_back(below(name));
  for (const std::string& name : subdirectories) {
    if (!ListBelow(root, below(name), result, others, error, links, depth + 1)) return false;
  }
  return true;
}

}  // namespace

bool ListFilesBelow(const std::string& directory, std::vector<std::string>* files,
                    std::vector<std::string>* others, std::string* error,
                    std::vector<std::string>* links) {
  files->clear();
  others->clear();
  if (links) links->clear();
  if (!ListBelow(directory, "", files, others, error, links, 0)) return false;
  std::sort(files->begin(), files->end());
  std::sort(others->begin(), others->end());
  if (links) std::sort(links->begin(), links->end());
  return true;
}

bool FindIgnoringCase(const std::string& directory, const std::string& name, std::string* path) {
  std::string exact = JoinPath(directory, name);
  // On Windows this already ignores case. A link counts as what it is, even
  // one that leads nowhere: the caller decides what a link means.
  if (PathExists(exact) || IsSymbolicLink(exact)) {
    *path = exact;
    return true;
  }
  std::vector<std::string> names, subdirectories, links;
  std::string error;
  if (!ListDirectory(directory, &names, &subdirectories, &error, &links)) return false;
  names.insert(names.end(), subdirectories.begin(), subdirectories.end());
  names.insert(names.end(), links.begin(), links.end());
  std::sort(names.begin(), names.end());  // several matches: the same one every time
  const std::string folded = FoldUtf8Path(name);
  for (const std::string& candidate : names) {
    if (FoldUtf8Path(candidate) == folded) {
      *path = JoinPath(directory, candidate);
      return true;
    }
  }
  return false;
}

bool MakeDirectories(const std::string& directory) {
  if (directory.empty() || IsDirectory(directory)) return true;
  std::string parent = ParentDirectory(directory);
  if (parent != directory && !MakeDirectories(parent)) return false;
#ifdef _WIN32
  return CreateDirectoryW(Wide(directory).c_str(), nullptr) || IsDirectory(directory);
#else
  return mkdir(directory.c_str(), 0777) == 0 || IsDirectory(directory);
#endif
}

bool RemoveFile(const std::string& path) {
#ifdef _WIN32
  return DeleteFileW(Wide(path).c_str()) != 0;
#else
  return std::remove(path.c_str()) == 0;
#endif
}

bool MoveFileOnto(const std::string& from, const std::string& to) {
#ifdef _WIN32
  return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
  return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

std::string JoinPath(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  if (IsPathSeparator(directory.back())) return directory + name;
  return directory + "/" + name;
}

std::string ParentDirectory(const std::string& path) {
  size_t end = path.size();
  while (end > 1 && IsPathSeparator(path[end - 1])) --end;  // trailing separators
  size_t cut = end;
  while (cut > 0 && !IsPathSeparator(path[cut - 1])) --cut;
  if (cut == 0) return "";
  while (cut > 1 && IsPathSeparator(path[cut - 1])) --cut;
  return path.substr(0, cut);
}

std::string BaseName(const std::string& path) {
  size_t end = path.size();
  while (end > 1 && IsPathSeparator(path[end - 1])) --end;
  size_t start = end;
  while (start > 0 && !IsPathSeparator(path[start - 1])) --start;
  return path.substr(start, end - start);
}

bool IsTerminal(FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}
