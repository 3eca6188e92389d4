#include "free_space_check.h"

#include <windows.h>

#include <string>

#include "host_hooks.h"
#include "space_needs.h"
#include "update_session.h"

namespace {

const char kTextNoSpace[] = "磁盘空间不足 %s 还需要 %d MB,请释放空间后重新运行更新程序!";

// The root of the volume that holds `path` ("C:\", or a mounted folder), or
// the path itself when the system cannot tell.
std::string VolumeOf(const char* path) {
  char root[UPDATE_PATH_SIZE] = {};
  if (GetVolumePathNameA(path, root, sizeof root) && root[0] != '\0') return root;
  return path;
}

}  // namespace

bool CheckFreeSpace(const std::vector<PayloadEntry>& entries, const char* gameDir,
                    RunFailure& failure) {
  char tempDir[UPDATE_PATH_SIZE] = {};
  const DWORD tempLength = GetTempPathA(UPDATE_PATH_SIZE - 1, tempDir);
  // Without a temporary directory the run fails when it makes its folder.
  if (tempLength == 0 || tempLength >= UPDATE_PATH_SIZE - 1) return true;
  const std::string tempVolume = VolumeOf(tempDir);
  const std::string gameVolume = VolumeOf(gameDir);
  for (const VolumeNeed& need : SpaceNeeds(entries, tempVolume, gameVolume)) {
    // Asked of the folder, not the root: a folder may be a mount of another
    // volume, and the free space is that of the folder's own file system.
    const char* folder = need.volume == gameVolume ? gameDir : tempDir;
    uint64_t freeBytes = 0;
    if (!QueryFreeSpace(folder, &freeBytes)) continue;
    const uint64_t missing = MegabytesShort(need.bytes, freeBytes);
    if (missing != 0) {
      failure.Set(ERROR_DISK_FULL, kTextNoSpace, need.volume.c_str(), static_cast<int>(missing));
      return false;
    }
  }
  return true;
}
