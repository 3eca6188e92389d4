// Files, registry entries and helper processes that the updater tests set up:
// a game installation, updater files with a payload, the uninstall entry, a
// stand-in for the running game.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "file_helpers.h"
#include "payload_builder.h"
#include "update/files/win32_handle.h"

// A build path as Windows code under Wine can open it ("/x" is "Z:/x").
std::string WindowsPath(const std::string& buildPath);

// Update.exe as this build made it (no payload).
std::string BuiltUpdateExe();

// A fresh, empty folder under the test's working folder.
std::string MakeWorkDir(const std::string& name);

std::string Md5OfFile(const std::string& path);

// `dir`\Config\Client.ini at `version`; with `launcher`, the launcher
// stand-in as `dir`\launch\launch.exe.
void MakeGameInstall(const std::string& dir, const std::string& version, bool launcher);

// Update.exe of this build followed by the payload and trailer of `layout`.
bool MakeUpdaterFile(const std::string& path, const PatchLayout& layout);

// A work folder with a game installation at `installedVersion` (with the
// launcher stand-in when `launcher`) and an updater file built from `layout`.
struct UpdateScenario {
  std::string work;
  std::string game;
  std::string updater;
};
UpdateScenario MakeScenario(const std::string& name, const PatchLayout& layout,
                            const std::string& installedVersion, bool launcher,
                            const std::string& updaterName = "Update.exe");

// "GameVersion" of the scenario's game as it stands now.
std::string InstalledVersion(const UpdateScenario& scenario);

// A patch with one plain file, readme.txt = "new readme".
PatchLayout ReadmePatch();

// `text` in double quotes, as one command-line argument.
std::string Quoted(const std::string& text);

// Points TMP and TEMP of this process, and so of the updaters it starts, at
// `dir` (made afresh, empty) for its lifetime: what a run leaves there can
// be seen without other programs' files in the way.
class ScopedTempDir {
 public:
  explicit ScopedTempDir(const std::string& dir);
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;
  const std::string& Path() const { return dir_; }

 private:
  std::string dir_;
  std::string oldTmp_;
  std::string oldTemp_;
};

// Holds the launcher stand-in, and with it the run, until Release or the end
// of its life (see launch_hold.txt in tests/launcher/README.md).
class LauncherHold {
 public:
  explicit LauncherHold(const std::string& gameDir);
  ~LauncherHold() { Release(); }
  LauncherHold(const LauncherHold&) = delete;
  LauncherHold& operator=(const LauncherHold&) = delete;
  void Release() { SetEvent(event_.Get()); }

 private:
  UniqueHandle event_;
};

// Sets the game's uninstall entry for its lifetime (or removes it, for a
// null value) and removes it again afterwards.
class UninstallEntry {
 public:
  explicit UninstallEntry(const char* uninstallString);
  // Raw bytes of any type, e.g. a value without a terminator.
  UninstallEntry(const void* bytes, DWORD size, DWORD type);
  ~UninstallEntry();
  UninstallEntry(const UninstallEntry&) = delete;
  UninstallEntry& operator=(const UninstallEntry&) = delete;
};

// A sleeping process started from a copy of the sleeper under `exeName`, so
// that the process list shows that name; ended on destruction.
class NamedProcess {
 public:
  NamedProcess(const std::string& dir, const std::string& exeName);
  ~NamedProcess();
  NamedProcess(const NamedProcess&) = delete;
  NamedProcess& operator=(const NamedProcess&) = delete;
  bool Running() const;

 private:
  UniqueHandle process_;
};
