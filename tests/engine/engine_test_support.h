// Shared by the engine tests: a scratch game directory per test, updater files
// built with the shared payload builder, the host hooks pointed at
// them, and recorders for what the engine shows, logs and reports.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "file_helpers.h"
#include "gtest/gtest.h"
#include "payload_builder.h"
#include "update/session/update_session.h"

using Bytes = std::vector<unsigned char>;
using Record = std::map<std::string, std::string>;

// The test program's folder (its working directory), without a trailing backslash.
std::string WorkDir();
// The temporary directory as the engine sees it, with its trailing backslash.
std::string TempDir();
// The run's own folder in it, as the engine composes it (doubled separator).
std::string RunFolder();

struct ProgressEvent {
  uint32_t code;
  uint32_t a;
  uint32_t b;
  bool operator==(const ProgressEvent& other) const {
    return code == other.code && a == other.a && b == other.b;
  }
};
void PrintTo(const ProgressEvent& event, std::ostream* os);

// Each test gets its own game directory under games\<test name>, a Client.ini
// with an installed version inside the default patch's range, and its own
// updater path; the own-file and warning hooks and the progress callback
// point at recorders, and the launcher's window at ownerWindow_, for the
// length of the test.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes `bytes` as this test's updater file and makes it the engine's own file.
  void UseUpdater(const Bytes& bytes);
  void SetInstalledVersion(const char* version);
  // The launcher stand-in at <gameDir>\launch\launch.exe.
  void InstallLauncherStandIn();
  // One record per launch, from the stand-in's launch_received.txt.
  std::vector<Record> LaunchRecords() const;
  int Apply(bool* versionOk);
  // How many times `text` occurs in this process's log files.
  int LogCount(const std::string& text) const;
  // A name unique to this test, for entries extracted into the shared temporary directory.
  std::string Unique(const std::string& suffix) const;

  std::string testName_;
  std::string tag_;
  std::string gameDir_;
  std::string updaterPath_;
  static std::vector<std::string> warnings_;
  static std::vector<ProgressEvent> progress_;
  // The window the engine hands the launcher; 1234 unless a test sets another.
  static HWND ownerWindow_;

 private:
  static void CollectWarning(const char* text);
  static void* OwnerWindow() { return ownerWindow_; }
  static void CollectProgress(uint32_t userValue, uint32_t code, uint32_t a, uint32_t b);
};

// `size` bytes of a pattern that differs with `seed`, so copies can be told apart.
std::string Pattern(size_t size, unsigned seed);
