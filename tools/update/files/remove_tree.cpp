#include "update/files/remove_tree.h"

#include <windows.h>

#include "update/base/bounded_format.h"
#include "update/base/gbk_text.h"
#include "update/files/file_retry.h"
#include "update/files/win32_handle.h"

namespace {

constexpr DWORD kLinkOrDirectory = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

void RemoveDirectoryContents(const char* path) {
  char pattern[MAX_PATH];
  if (!FormatFitted(pattern, sizeof pattern, "%s\\*", path)) return;
  WIN32_FIND_DATAA entry;
  UniqueFindHandle find(FindFirstFileA(pattern, &entry));
  if (!find) return;
  do {
    const char* name = entry.cFileName;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    char child[MAX_PATH];
    if (!FormatFitted(child, sizeof child, "%s\\%s", path, name)) continue;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      // Removing the link, never its target.
      if (!RetryingRemoveDirectory(child)) (void)RetryingForceDeleteFile(child);
    } else if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      RemoveTree(child);
    } else {
      (void)RetryingForceDeleteFile(child);
    }
  } while (FindNextFileA(find.Get(), &entry));
}

}  // namespace

void RemoveTree(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if ((attributes & kLinkOrDirectory) == FILE_ATTRIBUTE_DIRECTORY) RemoveDirectoryContents(path);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    (void)RetryingSetFileAttributes(path, FILE_ATTRIBUTE_DIRECTORY);
    (void)RetryingRemoveDirectory(path);
  } else {
    (void)RetryingForceDeleteFile(path);
  }
}

void RemoveEmptyParents(const char* path, size_t rootLength) {
  char directory[MAX_PATH];
  if (!FormatFitted(directory, sizeof directory, "%s", path)) return;
  // Fails, and so stops, at the first folder that still holds something.
  for (;;) {
    const char* separator = FindLastSeparator(directory, "\\/");
    if (separator == nullptr || static_cast<size_t>(separator - directory) <= rootLength) return;
    directory[separator - directory] = '\0';
    if (!RetryingRemoveDirectory(directory)) return;
  }
}
