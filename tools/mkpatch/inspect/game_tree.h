// The installed game as the install planner sees it, for mkpatch check: a
// game directory on this machine, its names found as Windows finds them
// (without regard to ASCII case), its links never followed, and on Linux a
// file nobody may write taken for a read-only one, as Wine shows it.
#pragma once

#include <string>

#include "update/plan/installed_game.h"

class GameTree : public InstalledGame {
 public:
  explicit GameTree(const std::string& gameDir) : gameDir_(gameDir) {}

  // `local` is the UTF-8 path found, or where the file would be.
  GamePathInfo Look(const std::string& relative, bool written) override;
  bool Digest(const std::string& relative, unsigned char (&md5)[16], uint32_t* error) override;
  bool HasLauncher() override;

 private:
  std::string gameDir_;
};
