#include "mkpatch/fs/game_path.h"

#include <vector>

#include "mkpatch/fs/file_system.h"
#include "mkpatch/fs/name_encoding.h"
#include "update/base/gbk_text.h"

namespace {

// The parts between single-byte backslashes (a trail byte 0x5C is not one).
std::vector<std::string> SplitGbkPath(const std::string& gbkPath) {
  std::vector<std::string> parts(1);
  for (const char* p = gbkPath.c_str(); *p != '\0';) {
    const char* next = NextChar(p);
    if (next - p == 1 && *p == '\\') {
      parts.emplace_back();
    } else {
      parts.back().append(p, next);
    }
    p = next;
  }
  return parts;
}

}  // namespace

GamePath FindGamePath(const std::string& gameDir, const std::string& gbkPath) {
  GamePath found;
  found.local = gameDir;
  const std::vector<std::string> parts = SplitGbkPath(gbkPath);
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string utf8;
    if (!GbkToUtf8(parts[i], &utf8)) {
      found.state = GamePathState::Invalid;
      return found;
    }
    std::string next;
    if (found.state == GamePathState::Missing && FindIgnoringCase(found.local, utf8, &next)) {
      found.local = next;
      const bool last = i + 1 == parts.size();
      if (IsSymbolicLink(next)) {
        found.state = GamePathState::Link;
        return found;
      }
      if (!last && !IsDirectory(next)) {
        found.state = GamePathState::Blocked;
        return found;
      }
      if (last) found.state = IsDirectory(next) ? GamePathState::Directory : GamePathState::File;
      continue;
    }
    found.local = JoinPath(found.local, utf8);  // where it would be
  }
  return found;
}
