// What mkpatch check tells of each file a patch installs at a path: which
// old build's bytes the game holds there (from the builds its way's first
// delta names) and the way the updater would take to the new bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mkpatch/inspect/patch_builds.h"
#include "update/plan/install_plan.h"

enum class FoundBytes : uint8_t {
  NewBytes,  // the file holds its new bytes already
  Build,     // the bytes of old builds the patch has a delta from
  Missing,   // no file there
  Other,     // bytes no delta of the patch was made from
};

struct WayStep {
  uint32_t entry = 0;             // index
  std::string kind;               // "delta", "step" or "whole"
  std::vector<std::string> from;  // the builds whose bytes it reads (a delta or step)
  std::vector<std::string> to;    // a step: the builds whose bytes it makes
};

struct FileWay {
  std::string path;  // UTF-8, '\' between parts
  FoundBytes found = FoundBytes::Other;
  std::vector<std::string> builds;  // for Build
  std::vector<WayStep> way;         // empty: nothing to do, or no way (refused)
};

// One per file installed at a path, in payload order; `game` is asked what
// stands where no way was found.
std::vector<FileWay> DescribeWays(const InstallPlan& plan, const std::vector<PayloadEntry>& table,
                                  const std::vector<EntryDetail>& details,
                                  const PatchBuilds& builds, InstalledGame& game);

// "bin\game.exe: the bytes of build 1.0.0.1; step 1.0.0.1 -> 1.0.0.2, delta 1.0.0.2 -> new"
std::string FileWayText(const FileWay& file);
// "new", "build", "missing", "other".
const char* FoundBytesName(FoundBytes found);
