// mkpatch's command line.
#pragma once

#include <string>
#include <vector>

#include "mkpatch/plan/build_entries.h"

enum class Command { Help, Build, Diff, List, Verify, Extract, Check };

struct Options {
  Command command = Command::Help;
  // build and diff
  std::string output;
  std::string stub;  // empty: a bare payload (.tpk package); diff needs one
  std::string baseVersion;
  std::string targetVersion;
  // build
  bool replacePayload = false;
  bool compress = false;  // entries compressed behind descriptors
  std::vector<BuildInput> inputs;
  // diff: the release trees, and packages for the launcher
  std::string oldDir;                 // the base build
  std::vector<std::string> fromDirs;  // later builds players may have, in release order
  std::string newDir;
  std::vector<std::string> packages;
  bool repair = false;  // every file that ships whole, for installations no delta fits
  // list, verify, extract, check
  std::string file;
  std::string directory;  // extract: where to; check: the game directory
  std::string baseDir;    // extract: the installed game deltas apply to
  bool json = false;      // list, check, diff
};

// False (with a message) on a usage error.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

const char* UsageText();
