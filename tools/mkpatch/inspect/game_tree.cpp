#include "mkpatch/inspect/game_tree.h"

#include <cerrno>

#include "mkpatch/fs/file_digest.h"
#include "mkpatch/fs/file_system.h"
#include "mkpatch/fs/game_path.h"
#include "update/format/game_layout.h"

namespace {

uint64_t SizeOf(const std::string& path) {
  UniqueFile file = OpenFile(path, "rb");
  uint64_t size = 0;
  return file && FileSize(file.Get(), &size) ? size : 0;
}

}  // namespace

GamePathInfo GameTree::Look(const std::string& relative, bool written) {
  (void)written;  // no path limit here: the updater's own
  const GamePath found = FindGamePath(gameDir_, relative);
  GamePathInfo info;
  info.state = found.state;
  info.local = found.local;
  if (found.state == GamePathState::File) {
    info.size = SizeOf(found.local);
    info.readOnlyOrHidden = IsReadOnlyOrHidden(found.local);
  } else if (found.state == GamePathState::Link) {
    // What a plain entry, copied through the link, would meet.
    info.linkIsDirectory = !IsRegularFile(found.local);
    if (!info.linkIsDirectory) {
      info.size = SizeOf(found.local);
      info.readOnlyOrHidden = IsReadOnlyOrHidden(found.local);
    }
  }
  return info;
}

bool GameTree::Digest(const std::string& relative, unsigned char (&md5)[16], uint32_t* error) {
  uint64_t size = 0;
  errno = 0;
  if (!DigestFile(FindGamePath(gameDir_, relative).local, &size, md5)) {
    *error = static_cast<uint32_t>(errno);
    return false;
  }
  return true;
}

bool GameTree::HasLauncher() {
  std::string folder, launcher;
  return FindIgnoringCase(gameDir_, GAME_LAUNCHER_DIR, &folder) &&
         FindIgnoringCase(folder, GAME_LAUNCHER_NAME, &launcher) && IsRegularFile(launcher);
}
