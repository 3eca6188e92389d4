// Finding a file of the installed game by its path inside the game
// directory as Windows finds it: each part without regard to ASCII case.
#pragma once

#include <string>

enum class GamePathState {
  Missing,    // no such file (the directories above it may be missing too)
  File,       // a regular file
  Directory,  // a directory where the path names a file
  Blocked,    // a file stands where the path needs a directory
  Link,       // a symbolic link on the way or at the end: the updater refuses it
  Invalid,    // the path is not code page 936 text
};

struct GamePath {
  GamePathState state = GamePathState::Missing;
  std::string local;  // UTF-8: what was found, or where the file would be
};

// `gbkPath` is relative, '\' between parts, as a descriptor holds it.
GamePath FindGamePath(const std::string& gameDir, const std::string& gbkPath);
