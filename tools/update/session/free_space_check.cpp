#include "update/session/free_space_check.h"

#include <windows.h>

#include <string>

#include "update/base/bounded_format.h"
#include "update/log/logger.h"
#include "update/session/host_hooks.h"
#include "update/session/update_session.h"

namespace {

// The volume goes last: a mounted folder's long name is what the 100-byte
// failure text cuts, never the megabytes or the advice.
const char kTextNoSpace[] = "磁盘空间不足,还需要 %d MB,请释放空间后重新运行更新程序! %s";
const char kTextNoSpaceWhole[] = "磁盘空间不足 %s 还需要 %d MB";

// The root of the volume that holds `path` ("C:\", or a mounted folder), or
// the path itself when the system cannot tell.
std::string VolumeOf(const char* path) {
  char root[UPDATE_PATH_SIZE] = {};
  if (GetVolumePathNameA(path, root, sizeof root) && root[0] != '\0') return root;
  return path;
}

}  // namespace

bool CheckFreeSpace(const std::vector<EntrySpace>& entries, const char* gameDir,
                    RunFailure& failure) {
  char tempDir[UPDATE_PATH_SIZE] = {};
  const DWORD tempLength = GetTempPathA(UPDATE_PATH_SIZE - 1, tempDir);
  // Without a temporary directory the run fails when it makes its folder.
  if (tempLength == 0 || tempLength >= UPDATE_PATH_SIZE - 1) return true;
  const std::string tempVolume = VolumeOf(tempDir);
  const std::string gameVolume = VolumeOf(gameDir);
  for (const VolumeNeed& need : SpaceNeedsFor(entries, tempVolume, gameVolume)) {
    // Asked of the folder, not the root: a folder may be a mount of another
    // volume, and the free space is that of the folder's own file system.
    const char* folder = need.volume == gameVolume ? gameDir : tempDir;
    uint64_t freeBytes = 0;
    if (!QueryFreeSpace(folder, &freeBytes)) continue;
    const uint64_t missing = MegabytesShort(need.bytes, freeBytes);
    if (missing != 0) {
      const int megabytes = static_cast<int>(missing);
      char whole[UPDATE_PATH_SIZE + RUN_FAILURE_TEXT_SIZE];
      if (!FormatFitted(whole, RUN_FAILURE_TEXT_SIZE, kTextNoSpace, megabytes,
                        need.volume.c_str())) {
        // The log keeps the volume's whole name all the same.
        g_Log.Info(kTextNoSpaceWhole, need.volume.c_str(), megabytes);
      }
      failure.Set(ERROR_DISK_FULL, kTextNoSpace, megabytes, need.volume.c_str());
      return false;
    }
  }
  return true;
}
