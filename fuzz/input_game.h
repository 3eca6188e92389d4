// A game for the fuzzers whose every path holds a file: some bytes of the
// input, chosen by the path, so that sizes and digests meet the descriptors'
// now and then.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "update/base/byte_source.h"
#include "update/base/md5.h"
#include "update/plan/installed_game.h"

class InputGame : public InstalledGame {
 public:
  explicit InputGame(ByteSource& input) : input_(input) {}
  GamePathInfo Look(const std::string& relative, bool written) override {
    GamePathInfo info;
    const uint32_t pick = Pick(relative);
    info.state = static_cast<GamePathState>(pick % 8);
    info.size = Size(relative);
    info.readOnlyOrHidden = (pick & 8) != 0;
    info.pathLength = static_cast<uint32_t>(relative.size() + (written ? 8 : 0));
    return info;
  }
  bool Digest(const std::string& relative, unsigned char (&md5)[16], uint32_t* error) override {
    const uint64_t size = Size(relative);
    std::vector<unsigned char> bytes(static_cast<size_t>(size));
    uint32_t got = 0;
    input_.ReadAt(0, bytes.data(), static_cast<uint32_t>(size), &got);
    MD5 digest;
    digest.update(bytes.data(), got);
    digest.finalize();
    const std::string raw = digest.raw_digest();
    std::memcpy(md5, raw.data(), sizeof md5);
    *error = 5;
    return (Pick(relative) & 16) == 0;
  }
  bool HasLauncher() override { return true; }

 private:
  static uint32_t Pick(const std::string& relative) {
    uint32_t hash = 0;
    for (unsigned char c : relative) hash = hash * 31 + c;
    return hash;
  }
  uint64_t Size(const std::string& relative) const {
    const uint64_t size = input_.Size();
    return size == 0 ? 0 : Pick(relative) % (size + 1);
  }
  ByteSource& input_;
};
