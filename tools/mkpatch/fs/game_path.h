// Finding a file of the installed game by its path inside the game
// directory as Windows finds it: each part without regard to ASCII case.
// Never TooLong nor Unreadable: those are the updater's own limits.
#pragma once

#include <string>

#include "update/plan/installed_game.h"

struct GamePath {
  GamePathState state = GamePathState::Missing;
  std::string local;  // UTF-8: what was found, or where the file would be
};

// `gbkPath` is relative, '\' between parts, as a descriptor holds it.
GamePath FindGamePath(const std::string& gameDir, const std::string& gbkPath);
