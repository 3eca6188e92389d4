// Shared by the engine tests of described entries: the game directory's
// files by relative path, runs that report what their checks found, and the
// leftovers a run must never leave.
#pragma once

#include <string>
#include <vector>

#include "encoded_entries.h"
#include "engine_test_support.h"
#include "update/session/run_outcome.h"

class DescribedRunTest : public EngineTest {
 protected:
  std::string Game(const std::string& path) const { return gameDir_ + "\\" + path; }
  std::string Read(const std::string& path) const { return ReadWholeFile(Game(path)); }
  // Writes `bytes` at `path` in the game directory, its folders made first.
  void Put(const std::string& path, const std::string& bytes);
  // One run; `checks` receives what the run's checks found.
  int Run(RunChecks* checks);
  std::string FirstWarning() const { return warnings_.empty() ? "" : warnings_[0]; }
  // Every "*.upd-new" below the game directory.
  std::vector<std::string> ReplacementCopies() const;
  // Where the stored bytes of entry `index` of the updater `file` lie.
  struct Stored {
    size_t begin;
    size_t size;
  };
  static Stored StoredBytes(const Bytes& file, size_t index);
  // A failure text as the box shows it: cut to the 100-byte buffer.
  static std::string Shown(const std::string& whole);
};
