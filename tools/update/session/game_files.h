// The installed game as the install planner sees it, through the system's
// calls: paths below the game directory in the updater's 260-byte buffers,
// links found as the run's link check finds them (QueryPathAttributes), and
// files read as the run reads them.
#pragma once

#include <string>

#include "update/plan/installed_game.h"

class GameFiles : public InstalledGame {
 public:
  // `gameDir` outlives the object.
  explicit GameFiles(const char* gameDir) : gameDir_(gameDir) {}

  // `local` is the whole path ("<gameDir>\<relative>"), or the link's.
  GamePathInfo Look(const std::string& relative, bool written) override;
  bool Digest(const std::string& relative, unsigned char (&md5)[16], uint32_t* error) override;
  bool HasLauncher() override;

 private:
  const char* gameDir_;
};
