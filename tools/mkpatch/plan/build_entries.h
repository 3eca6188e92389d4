// Turning build inputs into the list of entries to write, with every check
// on names made before a byte is written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One build input: a file or directory, or a file under an explicit name.
struct BuildInput {
  bool named = false;
  std::string name;  // UTF-8; only when named
  std::string path;
};

struct BuildEntry {
  std::string name;         // GBK bytes as stored in the header
  std::string displayName;  // UTF-8, for messages
  std::string path;         // the file to copy
  uint64_t size = 0;
};

// False with one message per refused input or name.
bool PlanBuildEntries(const std::vector<BuildInput>& inputs, std::vector<BuildEntry>* entries,
                      std::vector<std::string>* problems);
