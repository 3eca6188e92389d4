// The installed game as the install planner sees it: what stands at a path
// inside the game directory, and what a file there holds. The updater answers
// with the system's calls (session/installed_game_files), mkpatch check with
// the files of a game directory on Linux or Windows (inspect/game_tree), so
// that both plan a run with one planner. Portable.
#pragma once

#include <cstdint>
#include <string>

enum class GamePathState : uint8_t {
  Missing,     // no such file (the directories above it may be missing too)
  File,        // a regular file
  Directory,   // a directory where the path names a file
  Blocked,     // a file stands where the path needs a directory
  Link,        // a junction or symbolic link on the way or at the end: never written through
  Invalid,     // the path is not text of code page 936
  TooLong,     // the updater's path buffers cannot hold the path
  Unreadable,  // something is there, but the system cannot say what (lookError)
};

struct GamePathInfo {
  GamePathState state = GamePathState::Missing;
  // Where it was found, or the link, as the answering side names files (for
  // messages and for reading).
  std::string local;
  bool readOnlyOrHidden = false;  // a File the updater would refuse to replace
  uint64_t size = 0;              // of a File, or of the file a Link leads to
  bool linkIsDirectory = false;   // a Link that leads to a directory, or nowhere
  uint32_t pathLength = 0;        // for TooLong: the length the path needs
  uint32_t lookError = 0;         // for Unreadable: the system's error
};

class InstalledGame {
 public:
  virtual ~InstalledGame() = default;
  // What stands at `relative` (GBK, '\' between parts). `written`: the run
  // writes the file, which needs room for its replacement copy's name too.
  virtual GamePathInfo Look(const std::string& relative, bool written) = 0;
  // The MD5 of the file at `relative` (Look found a File there, or a Link
  // to one); false with the system's error when it cannot be read whole.
  virtual bool Digest(const std::string& relative, unsigned char (&md5)[16], uint32_t* error) = 0;
  // Whether the game's launcher is there to take packages.
  virtual bool HasLauncher() = 0;
};
