#include "update/install/staging.h"

#include <windows.h>

#include <cstring>

#include "update/base/gbk_text.h"
#include "update/base/text_hash.h"
#include "update/install/commit.h"

namespace {

// How many bytes of `relative` name the folders on its way that are there
// now, in the game directory `gameDir`, before the run makes any for it.
size_t ExistingFolders(const char* gameDir, const std::string& relative) {
  size_t existing = 0;
  // By character: the trail byte of a GBK character may be 0x5C.
  for (const char* p = relative.c_str(); *p != '\0'; p = NextChar(p)) {
    if (NextChar(p) - p != 1 || (*p != '\\' && *p != '/')) continue;
    const size_t length = static_cast<size_t>(p - relative.c_str());
    const std::string folder = std::string(gameDir) + "\\" + relative.substr(0, length);
    if (GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) break;
    existing = length;
  }
  return existing;
}

}  // namespace

Staging::Staging(const char* gameDir, const std::string& patch, const std::string& targetVersion)
    : gameDir_(gameDir) {
  journal_.patch = patch;
  journal_.targetVersion = targetVersion;
}

bool Staging::Stage(const char* target) {
  const bool exists = GetFileAttributesA(target) != INVALID_FILE_ATTRIBUTES;
  return Add(exists ? CommitOp::Replace : CommitOp::Add, target);
}

bool Staging::Remove(const char* target) { return Add(CommitOp::Remove, target); }

bool Staging::Add(CommitOp op, const char* target) {
  const size_t rootLength = std::strlen(gameDir_);
  if (std::strncmp(target, gameDir_, rootLength) != 0 || target[rootLength] != '\\' ||
      target[rootLength + 1] == '\0') {
    return false;
  }
  const std::string relative = target + rootLength + 1;
  std::string folded = FoldGbkName(relative);
  const uint32_t hash = HashText(folded);
  for (size_t i = 0; i < folded_.size(); ++i) {
    if (hashes_[i] == hash && folded_[i] == folded) return true;
  }
  hashes_.push_back(hash);
  folded_.push_back(std::move(folded));
  CommitStep step;
  step.op = op;
  step.path = relative;
  // Before the folders an added file needs are made, so that undoing the
  // run takes away those and leaves the player's own, empty or not.
  if (op == CommitOp::Add) step.existingFolders = ExistingFolders(gameDir_, relative);
  journal_.steps.push_back(step);
  return true;
}

void Staging::Discard() const { DiscardStaged(gameDir_, journal_); }
