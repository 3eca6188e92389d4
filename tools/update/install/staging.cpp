#include "update/install/staging.h"

#include <windows.h>

#include <cstring>

#include "update/base/gbk_text.h"
#include "update/base/text_hash.h"
#include "update/install/commit.h"

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
  journal_.steps.push_back(step);
  return true;
}

void Staging::Discard() const { DiscardStaged(gameDir_, journal_); }
