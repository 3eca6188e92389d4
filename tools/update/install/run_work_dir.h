// The run's own folder in the temporary directory, into which every entry is
// extracted. The folder's name is the updater's alone and only the holder of
// the single-instance mutex uses it, so whatever lies in it was put there by
// an updater run: this one, or one that was killed before it could clean up.
// Nothing outside it in the temporary directory is ever removed by the run.
#pragma once

#include "update/session/run_failure.h"
#include "update/session/update_session.h"

// The folder's name inside the temporary directory.
extern const char* const RUN_WORK_DIR_NAME;

class RunWorkDir {
 public:
  RunWorkDir() = default;
  ~RunWorkDir() { Remove(); }
  RunWorkDir(const RunWorkDir&) = delete;
  RunWorkDir& operator=(const RunWorkDir&) = delete;

  // Makes the folder afresh, first removing what a killed run left in it.
  // On failure `failure` is set.
  bool Create(RunFailure& failure);
  // The folder, without a trailing separator; empty before Create.
  const char* Path() const { return path_; }
  // Removes one extracted file and the folders above it that it leaves
  // empty, up to (not including) the run's folder.
  void RemoveEntry(const char* extractionPath) const;
  // Removes the folder with everything still in it.
  void Remove();

 private:
  char path_[UPDATE_PATH_SIZE] = {};
  bool created_ = false;
};
