#include "mkpatch/fs/temp_output.h"

#include "mkpatch/fs/file_system.h"

TempOutput::TempOutput(const std::string& target) : target_(target) {
  for (int attempt = 0; attempt < 100 && !file_; ++attempt) {
    path_ = target + ".tmp" + std::to_string(attempt);
    file_ = OpenFile(path_, "wbx");  // never clobber someone else's file
  }
  created_ = file_.IsValid();
}

TempOutput::~TempOutput() {
  file_.Reset();
  if (created_ && !committed_) RemoveFile(path_);
}

bool TempOutput::Commit() {
  bool written = std::fflush(file_.Get()) == 0 && !std::ferror(file_.Get());
  bool closed = file_.Close();
  if (!written || !closed || !MoveFileOnto(path_, target_)) return false;
  committed_ = true;
  return true;
}
