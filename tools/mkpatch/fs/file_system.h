// The few file operations mkpatch needs, with UTF-8 paths on every platform
// (Windows paths go through the wide API so any file name works).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "update/base/unique_resource.h"

// mode as for fopen, always binary ("rb", "wb", "wbx").
UniqueFile OpenFile(const std::string& path, const char* mode);
bool FileSize(FILE* file, uint64_t* size);
bool SeekTo(FILE* file, uint64_t offset);

bool IsDirectory(const std::string& path);
bool IsRegularFile(const std::string& path);
bool PathExists(const std::string& path);
// A symbolic link (on Windows any reparse point: links and junctions), not
// what it points at.
bool IsSymbolicLink(const std::string& path);
// What keeps the updater from replacing a file: Windows' read-only or hidden
// attribute; elsewhere no write permission at all, which Wine shows as read-only.
bool IsReadOnlyOrHidden(const std::string& path);

// The path of `name` in `directory` as Windows would find it, names
// compared as FoldUtf8Path folds them; an exact match wins. False when
// there is none.
bool FindIgnoringCase(const std::string& directory, const std::string& name, std::string* path);

// Every regular file below `directory`, as paths relative to it with '/'
// between the parts, sorted bytewise so that builds are reproducible. With
// `links`, symbolic links are never followed: their relative paths (sorted)
// go there instead; without it they are followed as their targets. What is
// neither a file nor a directory (a pipe, a socket, a device, a link that
// leads nowhere) goes to `others`, sorted: nothing can be read from it.
bool ListFilesBelow(const std::string& directory, std::vector<std::string>* files,
                    std::vector<std::string>* others, std::string* error,
                    std::vector<std::string>* links = nullptr);

// Creates `directory` and its missing parents.
bool MakeDirectories(const std::string& directory);
bool RemoveFile(const std::string& path);
// Moves `from` onto `to`, replacing `to`.
bool MoveFileOnto(const std::string& from, const std::string& to);

std::string JoinPath(const std::string& directory, const std::string& name);
std::string ParentDirectory(const std::string& path);
std::string BaseName(const std::string& path);

bool IsTerminal(FILE* stream);
