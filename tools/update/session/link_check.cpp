#include "update/session/link_check.h"

#include <windows.h>

#include <cstring>

#include "update/base/bounded_format.h"
#include "update/base/gbk_text.h"
#include "update/session/host_hooks.h"

namespace {

enum class Component { Missing, Link, Plain };

Component Examine(const char* path) {
  const DWORD attributes = QueryPathAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return Component::Missing;
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? Component::Link : Component::Plain;
}

}  // namespace

bool FindLinkOnPath(const char* gameDir, const char* relativePath, char (&link)[UPDATE_PATH_SIZE]) {
  if (!FormatFitted(link, sizeof link, "%s\\%s", gameDir, relativePath)) return false;
  const size_t start = std::strlen(gameDir) + 1;
  // Each separator ends a folder's path; walked by character, since the
  // trail byte of a double-byte character may be a backslash.
  for (char* p = link + start; *p != '\0'; p = const_cast<char*>(NextChar(p))) {
    if (NextChar(p) - p != 1 || (*p != '\\' && *p != '/')) continue;
    const char separator = *p;
    *p = '\0';
    const Component folder = Examine(link);
    if (folder == Component::Link) return true;
    *p = separator;
    if (folder == Component::Missing) return false;
  }
  return Examine(link) == Component::Link;
}
