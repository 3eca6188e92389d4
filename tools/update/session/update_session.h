// The updater's one session object: the game directory, the versions the
// patch moves between, and the whole update run (extract, install, record).
#pragma once

#include <cstdint>
#include <string>

#include "update/format/game_layout.h"
#include "update/session/file_stamp.h"
#include "update/session/progress.h"
#include "update/session/run_outcome.h"

// RunLauncher's results.
constexpr int LAUNCHER_ENDED = 0;
constexpr int LAUNCHER_FAILED = 1;

class UpdateSession {
 public:
  UpdateSession();
  ~UpdateSession();
  UpdateSession(const UpdateSession&) = delete;
  UpdateSession& operator=(const UpdateSession&) = delete;

  // Start-up checks and the game directory.
  int IsAnotherInstanceRunning();
  int ReadInstallPath();
  int IsGameDirValid();
  int FormatWindowTitle(char (&title)[UPDATE_PATH_SIZE]);
  int SetGameDir(const char* path);
  char* GetGameDir();
  static int SetProgressCallback(ProgressCallback callback, uint32_t userValue);

  // One update run from the program's own file: 1 when every entry was
  // installed. `checks` says which check, if any, refused the run before
  // anything was written.
  int ApplyPatch(RunChecks& checks);
  // The same, for callers that ask about the version gate alone, or about
  // the gate and the disk's free space.
  int ApplyPatch(bool& versionOk);
  int ApplyPatch(bool& versionOk, bool& spaceOk);
  int CheckVersion(const char* installedVersion);

  // Installation of one extracted plain entry: a package (".tpk") through
  // the launcher, any other file into the game directory.
  int InstallEntry(const char* extractedPath, const char* entryName, uint32_t ordinal,
                   uint32_t entryCount);
  // The same with the way chosen by the caller (a described entry's kind).
  int InstallExtracted(const char* extractedPath, bool package, uint32_t ordinal,
                       uint32_t entryCount);
  // The launcher hand-off's result is not a boolean: LAUNCHER_ENDED once the
  // launcher was started and has ended, LAUNCHER_FAILED after any failure
  // (already shown to the user).
  int RunLauncher(const char* packagePath, const char* gameDirectory);

  // The installed version and the updater's MD5 after a successful run;
  // false when the record could not be written whole. The MD5 is the one the
  // run took (ownFileDigest) while the own file is still that file, unchanged;
  // otherwise the file is read again.
  bool WriteVersionRecord();

  char gameDir[UPDATE_PATH_SIZE];
  std::string baseVersion;
  std::string targetVersion;
  bool autoMode;
  // The MD5 of the whole own file from the run's one read of it (empty
  // before a run reached it); used up by the next WriteVersionRecord.
  StampedDigest ownFileDigest;
};

extern UpdateSession g_UpdateSession;
