// mkpatch's command line.
#pragma once

#include <string>
#include <vector>

enum class Command { Help, Build, List, Verify, Extract, Check };

// One build input: a file or directory, or a file under an explicit name.
struct BuildInput {
  bool named = false;
  std::string name;  // UTF-8; only when named
  std::string path;
};

struct Options {
  Command command = Command::Help;
  // build
  std::string output;
  std::string stub;  // empty: a bare payload (.tpk package)
  std::string baseVersion;
  std::string targetVersion;
  bool replacePayload = false;
  std::vector<BuildInput> inputs;
  // list, verify, extract, check
  std::string file;
  std::string directory;  // extract: where to; check: the game directory
  bool json = false;
};

// False (with a message) on a usage error.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

const char* UsageText();
