#include "engine_test_support.h"

#include <cstdio>
#include <cstring>
#include <sstream>

#include "update/files/file_retry.h"
#include "update/files/win32_handle.h"
#include "update/install/run_work_dir.h"
#include "update/log/logger.h"
#include "update/session/host_hooks.h"

std::vector<std::string> EngineTest::warnings_;
std::vector<ProgressEvent> EngineTest::progress_;
HWND EngineTest::ownerWindow_ = nullptr;

namespace {

// The provider has no context argument, so the path lives here for the test.
std::string g_ownPath;

// Tests that hold a file for a whole run would otherwise wait out the real
// bound each time; the retries themselves still happen.
void NoWait(const char* heldPath, uint32_t milliseconds) {
  (void)heldPath;
  (void)milliseconds;
}

uint32_t TestOwnPath(char* buffer, uint32_t size) {
  if (g_ownPath.size() + 1 > size) return size;
  std::memcpy(buffer, g_ownPath.c_str(), g_ownPath.size() + 1);
  return static_cast<uint32_t>(g_ownPath.size());
}

// Runs once per process: a temporary directory of this test program's own,
// since launch.exe and launch.txt in a shared one would be overwritten by
// another test program running at the same time; and the log written at once,
// so tests can read what was logged.
class EngineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string temp = WorkDir() + "\\tmp";
    RemoveTree(temp);  // names repeat from run to run
    MakeDirectoryTree(temp);
    SetEnvironmentVariableA("TMP", temp.c_str());
    SetEnvironmentVariableA("TEMP", temp.c_str());
    g_Log.SetSynchronous(true);
    // Wine reuses process ids from run to run, and with them log file names.
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "engine_tests_%lu_*",
                  static_cast<unsigned long>(GetCurrentProcessId()));
    for (const std::string& name : ListFiles(WorkDir() + "\\Log", prefix)) {
      DeleteFileA((WorkDir() + "\\Log\\" + name).c_str());
    }
  }
};

const ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

}  // namespace

std::string WorkDir() {
  char buffer[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, buffer);
  return buffer;
}

std::string TempDir() {
  char buffer[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, buffer);
  return buffer;
}

std::string RunFolder() { return TempDir() + "\\" + RUN_WORK_DIR_NAME; }

void PrintTo(const ProgressEvent& event, std::ostream* os) {
  *os << "{" << event.code << ", " << event.a << ", " << event.b << "}";
}

std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned state = seed * 2654435761u + 1;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 16);
  }
  return bytes;
}

void EngineTest::SetUp() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  testName_ = std::string(info->test_suite_name()) + "_" + info->name();
  // Short, so that entry names stay well inside their 80 bytes.
  static int testCount = 0;
  tag_ = "t" + std::to_string(++testCount);
  gameDir_ = WorkDir() + "\\games\\" + testName_;
  RemoveTree(gameDir_);
  MakeDirectoryTree(gameDir_ + "\\Config");
  SetInstalledVersion("1.4.1.34000");
  MakeDirectoryTree(WorkDir() + "\\updaters");
  updaterPath_ = WorkDir() + "\\updaters\\" + testName_ + ".exe";

  warnings_.clear();
  progress_.clear();
  SetWarningSink(&EngineTest::CollectWarning);
  SetOwnPathProvider(&TestOwnPath);
  g_ownPath = updaterPath_;
  UpdateSession::SetProgressCallback(&EngineTest::CollectProgress, 77);
  ASSERT_TRUE(g_UpdateSession.SetGameDir(gameDir_.c_str()));
  g_UpdateSession.autoMode = false;
  ownerWindow_ = reinterpret_cast<HWND>(static_cast<intptr_t>(1234));
  SetOwnerWindowProvider(&EngineTest::OwnerWindow);
  SetFileRetryWait(&NoWait);
}

void EngineTest::TearDown() {
  SetWarningSink(nullptr);
  SetOwnPathProvider(nullptr);
  UpdateSession::SetProgressCallback(nullptr, 0);
  SetOwnerWindowProvider(nullptr);
  SetFileRetryWait(nullptr);
}

void EngineTest::UseUpdater(const Bytes& bytes) {
  EXPECT_TRUE(WriteWholeFile(updaterPath_, bytes));
}

void EngineTest::SetInstalledVersion(const char* version) {
  EXPECT_TRUE(WriteWholeFile(gameDir_ + "\\Config\\Client.ini",
                             std::string("[Version]\r\nGameVersion=") + version + "\r\n"));
}

void EngineTest::InstallLauncherStandIn() {
  MakeDirectoryTree(gameDir_ + "\\launch");
  ASSERT_TRUE(CopyFileA((WorkDir() + "\\launch.exe").c_str(),
                        (gameDir_ + "\\launch\\launch.exe").c_str(), FALSE));
}

std::vector<Record> EngineTest::LaunchRecords() const {
  std::vector<Record> records;
  std::istringstream lines(ReadWholeFile(gameDir_ + "\\launch_received.txt"));
  std::string line;
  Record current;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
      if (!current.empty()) records.push_back(current);
      current.clear();
      continue;
    }
    size_t equals = line.find('=');
    if (equals != std::string::npos) current[line.substr(0, equals)] = line.substr(equals + 1);
  }
  if (!current.empty()) records.push_back(current);
  return records;
}

int EngineTest::Apply(bool* versionOk) {
  *versionOk = true;
  return g_UpdateSession.ApplyPatch(*versionOk);
}

int EngineTest::LogCount(const std::string& text) const {
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "engine_tests_%lu_*",
                static_cast<unsigned long>(GetCurrentProcessId()));
  int count = 0;
  for (const std::string& name : ListFiles(WorkDir() + "\\Log", prefix)) {
    std::string content = ReadWholeFile(WorkDir() + "\\Log\\" + name);
    for (size_t at = content.find(text); at != std::string::npos; at = content.find(text, at + 1)) {
      ++count;
    }
  }
  return count;
}

std::string EngineTest::Unique(const std::string& suffix) const { return tag_ + "_" + suffix; }

void EngineTest::CollectWarning(const char* text) { warnings_.push_back(text); }

void EngineTest::CollectProgress(uint32_t userValue, uint32_t code, uint32_t a, uint32_t b) {
  EXPECT_EQ(77u, userValue);
  progress_.push_back(ProgressEvent{code, a, b});
}
