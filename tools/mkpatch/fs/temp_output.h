// A file beside the output that becomes the output only on Commit and is
// removed otherwise, so that a failed run never leaves a half-written output
// (an existing one stays as it was).
#pragma once

#include <cstdio>
#include <string>

#include "update/base/unique_resource.h"

class TempOutput {
 public:
  explicit TempOutput(const std::string& target);
  ~TempOutput();
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;

  // Null when no temporary file could be created.
  FILE* Get() const { return file_.Get(); }
  // Flushes, closes and moves the temporary file onto the target.
  bool Commit();

 private:
  std::string target_;
  std::string path_;
  UniqueFile file_;
  bool created_ = false;
  bool committed_ = false;
};
