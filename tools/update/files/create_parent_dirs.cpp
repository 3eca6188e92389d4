#include "update/files/create_parent_dirs.h"

#include <windows.h>

#include "update/base/bounded_format.h"
#include "update/base/gbk_text.h"

void CreateParentDirs(const char* path) {
  if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return;

  // The file's directory with its trailing separator. Local storage only:
  // two runs on two threads must not share a scratch buffer.
  char directory[MAX_PATH];
  if (!FormatFitted(directory, sizeof directory, "%s", path)) return;  // too long to create anyway
  const char* lastSeparator = FindLastSeparator(directory, "\\/");
  if (lastSeparator == nullptr) return;
  directory[lastSeparator - directory + 1] = '\0';

  // Walk by character, not byte: the trail byte of a GBK character may be
  // 0x5C and must not end a directory name.
  for (char* p = directory; *p != '\0'; p = const_cast<char*>(NextChar(p))) {
    if (NextChar(p) - p != 1 || (*p != '\\' && *p != '/')) continue;
    char separator = *p;
    *p = '\0';
    if (directory[0] != '\0' && GetFileAttributesA(directory) == INVALID_FILE_ATTRIBUTES) {
      // A failure shows up when the file itself cannot be created.
      CreateDirectoryA(directory, nullptr);
    }
    *p = separator;
  }
}
