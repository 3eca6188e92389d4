#include "update/session/game_files.h"

#include <windows.h>

#include <cstring>

#include "update/base/bounded_format.h"
#include "update/files/replace_whole_file.h"
#include "update/format/game_layout.h"
#include "update/session/installed_file.h"
#include "update/session/link_check.h"
#include "update/session/update_session.h"

GamePathInfo GameFiles::Look(const std::string& relative, bool written) {
  GamePathInfo info;
  // A file that is written needs room for its replacement copy's name too.
  const size_t needed =
      std::strlen(gameDir_) + 1 + relative.size() + (written ? std::strlen(REPLACEMENT_SUFFIX) : 0);
  char path[UPDATE_PATH_SIZE];
  if (needed >= UPDATE_PATH_SIZE ||
      !FormatFitted(path, sizeof path, "%s\\%s", gameDir_, relative.c_str())) {
    info.state = GamePathState::TooLong;
    info.pathLength = static_cast<uint32_t>(needed);
    return info;
  }
  char link[UPDATE_PATH_SIZE];
  if (FindLinkOnPath(gameDir_, relative.c_str(), link)) {
    info.state = GamePathState::Link;
    info.local = link;
    return info;
  }
  info.local = path;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      info.state = GamePathState::Unreadable;
      info.lookError = error;
    }
    return info;
  }
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    info.state = GamePathState::Directory;
    return info;
  }
  info.state = GamePathState::File;
  info.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  info.readOnlyOrHidden =
      (data.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)) != 0;
  return info;
}

bool GameFiles::Digest(const std::string& relative, unsigned char (&md5)[16], uint32_t* error) {
  char path[UPDATE_PATH_SIZE];
  InstalledFile file;
  SystemResult result = SystemResult::Failed(ERROR_FILENAME_EXCED_RANGE);
  if (FormatFitted(path, sizeof path, "%s\\%s", gameDir_, relative.c_str())) {
    result = file.Open(path);
  }
  if (result) result = file.Digest(md5);
  *error = result.Error();
  return result.Succeeded();
}

bool GameFiles::HasLauncher() {
  char path[UPDATE_PATH_SIZE];
  return FormatFitted(path, sizeof path, "%s%s", gameDir_, GAME_LAUNCHER_PATH) &&
         GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}
