// Update.exe killed the hard way at several moments of a run, then started
// again: every game file stays whole (old or new), the version is recorded
// only at the very end, and the run after the crashes completes and leaves
// nothing behind. The moments: while a delta is applied to a large file,
// while an entry is extracted, while a file is staged beside its target, and
// while the launcher applies a package. Each moment is reached by waiting for what the
// run itself makes (a file that grows, the launcher's start), never by
// guessing times.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>

#include "file_helpers.h"
#include "hand_made_delta.h"
#include "outcome_checks.h"
#include "test_files.h"
#include "update/base/md5.h"
#include "updater_driver.h"

namespace {

constexpr DWORD kTimeoutMs = 240000;
constexpr size_t kChunkSize = 1 << 20;
constexpr size_t kChunks = 32;

uint64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string DigestOfChunks(const std::string& chunk, size_t count) {
  MD5 digest;
  for (size_t i = 0; i < count; ++i) {
    digest.update(reinterpret_cast<const unsigned char*>(chunk.data()),
                  static_cast<uint32_t>(chunk.size()));
  }
  digest.finalize();
  return digest.hex_digest();
}

// Polls `done` as often as it can: a replacement copy lives only briefly.
template <typename Condition>
bool WaitUntil(const UpdaterProcess& updater, Condition done) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < kTimeoutMs) {
    if (done()) return true;
    if (updater.HasExited()) return false;
    Sleep(1);
  }
  return false;
}

bool LauncherRunning() {
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot.Get(), &entry); more;
       more = Process32Next(snapshot.Get(), &entry)) {
    if (std::string(entry.szExeFile) == "launch.exe") return true;
  }
  return false;
}

class CrashRecovery : public ::testing::Test {
 protected:
  void SetUp() override {
    for (size_t i = 0; i < kChunkSize; ++i) chunk_.push_back(static_cast<char>(i * 7 + i / 251));
    // The old build's large file, and the new one a delta makes of it.
    std::string oldDelta(kChunkSize * kChunks, '\0');
    for (size_t i = 0; i < oldDelta.size(); ++i) oldDelta[i] = static_cast<char>(i / 4093 + i);
    std::string newDelta;
    const PayloadFile delta =
        HandMadeDeltaEntry("data\\delta.dat", oldDelta, {5, oldDelta.size() / 2}, &newDelta);
    oldDeltaDigest_ = DigestOfChunks(oldDelta, 1);
    newDeltaDigest_ = DigestOfChunks(newDelta, 1);
    PatchLayout layout;
    layout.files = {delta,
                    {"big.dat", chunk_, kChunks},
                    {"patch.tpk", BarePackage({{"pak\\content.dat", "packaged bytes"}})},
                    {"readme.txt", "new readme"}};
    // A name of its own: the kill service finds the program by it.
    scenario_ = MakeScenario("crash_recovery", layout, "1.4.1.33960", true, "crash_recovery.exe");
    big_ = scenario_.game + "\\big.dat";
    WriteWholeFile(big_, "old big");
    newDigest_ = DigestOfChunks(chunk_, kChunks);
    deltaTarget_ = scenario_.game + "\\data\\delta.dat";
    MakeDirectoryTree(scenario_.game + "\\data");
    WriteWholeFile(deltaTarget_, oldDelta);
  }

  // The killed run changed nothing it should not have.
  void ExpectWholeAndUnrecorded() {
    const bool old = ReadWholeFile(big_) == "old big";
    EXPECT_TRUE(old || Md5OfFile(big_) == newDigest_) << "big.dat is torn";
    const std::string delta = Md5OfFile(deltaTarget_);
    EXPECT_TRUE(delta == oldDeltaDigest_ || delta == newDeltaDigest_) << "delta.dat is torn";
    EXPECT_EQ(InstalledVersion(scenario_), "1.4.1.33960");
  }

  std::string chunk_;
  UpdateScenario scenario_;
  std::string big_;
  std::string newDigest_;
  std::string deltaTarget_;
  std::string oldDeltaDigest_;
  std::string newDeltaDigest_;
};

TEST_F(CrashRecovery, KilledDuringDeltaExtractionReplacementAndLauncherThenCompleted) {
  ScopedTempDir temp(scenario_.work + "\\tmp");
  const std::string extracted = temp.Path() + "\\TPK_MVR_J_UPDATE\\big.dat";
  const std::string replacement = big_ + ".upd-new";
  const std::string started = scenario_.game + "\\launch_started.txt";
  const std::string hold = scenario_.game + "\\launch_hold.txt";
  const uint64_t bigSize = uint64_t(kChunkSize) * kChunks;
  LauncherHold launcherHold(scenario_.game);
  const std::string deltaCopy = deltaTarget_ + ".upd-new";

  {
    SCOPED_TRACE("while the delta is applied");
    UpdaterProcess updater;
    ASSERT_TRUE(updater.Start(scenario_.updater, Quoted(scenario_.game)));
    ASSERT_TRUE(WaitUntil(updater, [&] { return FileSize(deltaCopy) >= kChunkSize; }));
    ASSERT_TRUE(updater.Suspend());
    EXPECT_LT(FileSize(deltaCopy), bigSize);
    ASSERT_TRUE(updater.KillHard(kTimeoutMs));
    EXPECT_EQ(Md5OfFile(deltaTarget_), oldDeltaDigest_);
    ExpectWholeAndUnrecorded();
  }
  {
    SCOPED_TRACE("during extraction");
    UpdaterProcess updater;
    ASSERT_TRUE(updater.Start(scenario_.updater, Quoted(scenario_.game)));
    ASSERT_TRUE(WaitUntil(updater, [&] { return FileSize(extracted) >= kChunkSize; }));
    ASSERT_TRUE(updater.Suspend());
    EXPECT_LT(FileSize(extracted), bigSize);
    ASSERT_TRUE(updater.KillHard(kTimeoutMs));
    EXPECT_EQ(ReadWholeFile(big_), "old big");
    ExpectWholeAndUnrecorded();
  }
  {
    SCOPED_TRACE("while the large file is staged");
    UpdaterProcess updater;
    ASSERT_TRUE(updater.Start(scenario_.updater, Quoted(scenario_.game)));
    ASSERT_TRUE(WaitUntil(updater, [&] { return FileExists(replacement) || FileExists(started); }));
    ASSERT_TRUE(updater.Suspend());
    EXPECT_TRUE(FileExists(replacement)) << "the launcher started before the copy was seen";
    ASSERT_TRUE(updater.KillHard(kTimeoutMs));
    ExpectWholeAndUnrecorded();
  }
  {
    SCOPED_TRACE("during the launcher");
    UpdaterProcess updater;
    ASSERT_TRUE(updater.Start(scenario_.updater, Quoted(scenario_.game)));
    ASSERT_TRUE(WaitUntil(updater, [&] { return FileExists(started); }));
    ASSERT_TRUE(updater.KillHard(kTimeoutMs));
    ExpectWholeAndUnrecorded();
    // Every file is staged before the launcher starts, and none is in place
    // until the launcher has applied every package.
    EXPECT_EQ(Md5OfFile(replacement), newDigest_) << "staged before the launcher was started";
    EXPECT_EQ(ReadWholeFile(big_), "old big");
    EXPECT_FALSE(FileExists(scenario_.game + "\\readme.txt"));
    // The launcher outlives the updater, as it would after a real crash.
    launcherHold.Release();
    DeleteFileA(hold.c_str());
    DeleteFileA(started.c_str());
    DWORD start = GetTickCount();
    while (LauncherRunning() && GetTickCount() - start < kTimeoutMs) PollPause();
    ASSERT_FALSE(LauncherRunning());
  }

  UpdaterOutcome outcome = RunUpdater(scenario_.updater, Quoted(scenario_.game), kTimeoutMs);
  ASSERT_TRUE(EndedSilently(outcome));
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(Md5OfFile(big_), newDigest_);
  EXPECT_EQ(Md5OfFile(deltaTarget_), newDeltaDigest_);
  EXPECT_EQ(ReadWholeFile(scenario_.game + "\\readme.txt"), "new readme");
  EXPECT_EQ(ReadWholeFile(scenario_.game + "\\pak\\content.dat"), "packaged bytes");
  EXPECT_EQ(InstalledVersion(scenario_), "1.4.1.34242");
  // Nothing but the installed files: no extracted entry, no hand-off file,
  // no replacement copy.
  EXPECT_EQ(ListFiles(temp.Path(), "*"), std::vector<std::string>{});
  const std::vector<std::string> game = {
      "Config", "big.dat", "data", "launch", "launch_received.txt", "pak", "readme.txt"};
  EXPECT_EQ(ListFiles(scenario_.game, "*"), game);
  EXPECT_EQ(ListFiles(scenario_.game + "\\data", "*"), std::vector<std::string>{"delta.dat"});
}

// A file reached by a chain (a step through a later build's bytes, then a
// delta to the new ones), the updater killed while the step is decoded and
// again while the delta decodes what the step made: the file stays the old
// build's, and the next run completes it and leaves no step behind.
TEST(CrashRecoveryChain, KilledInEachLinkOfAChainThenCompleted) {
  std::string old(kChunkSize * kChunks, '\0');
  for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<char>(i / 4091 + 3 * i);
  std::string middle, fresh;
  const PayloadFile step =
      HandMadeDeltaEntry("data\\chain.dat", old, {11, old.size() / 3}, &middle, ENTRY_FLAG_STEP);
  const PayloadFile delta = HandMadeDeltaEntry("data\\chain.dat", middle, {old.size() - 7}, &fresh);
  PatchLayout layout;
  layout.files = {step, delta};
  const UpdateScenario scenario =
      MakeScenario("crash_chain", layout, "1.4.1.33960", false, "crash_recovery.exe");
  const std::string target = scenario.game + "\\data\\chain.dat";
  MakeDirectoryTree(scenario.game + "\\data");
  WriteWholeFile(target, old);
  const std::string oldDigest = DigestOfChunks(old, 1);
  const std::string stepFile = target + ".upd-st0";
  const std::string replacement = target + ".upd-new";
  {
    SCOPED_TRACE("while the step is decoded");
    UpdaterProcess updater;
    ASSERT_TRUE(updater.Start(scenario.updater, Quoted(scenario.game)));
    ASSERT_TRUE(WaitUntil(updater, [&] { return FileSize(stepFile) >= kChunkSize; }));
    ASSERT_TRUE(updater.Suspend());
    EXPECT_LT(FileSize(stepFile), old.size());
    ASSERT_TRUE(updater.KillHard(kTimeoutMs));
    EXPECT_EQ(Md5OfFile(target), oldDigest);
    EXPECT_EQ(InstalledVersion(scenario), "1.4.1.33960");
  }
  {
    SCOPED_TRACE("while the delta decodes the step's result");
    UpdaterProcess updater;
    ASSERT_TRUE(updater.Start(scenario.updater, Quoted(scenario.game)));
    ASSERT_TRUE(WaitUntil(updater, [&] { return FileSize(replacement) >= kChunkSize; }));
    ASSERT_TRUE(updater.Suspend());
    EXPECT_EQ(FileSize(stepFile), middle.size()) << "the step's result is read whole";
    ASSERT_TRUE(updater.KillHard(kTimeoutMs));
    EXPECT_EQ(Md5OfFile(target), oldDigest);
    EXPECT_EQ(InstalledVersion(scenario), "1.4.1.33960");
  }
  UpdaterOutcome outcome = RunUpdater(scenario.updater, Quoted(scenario.game), kTimeoutMs);
  ASSERT_TRUE(EndedSilently(outcome));
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(Md5OfFile(target), DigestOfChunks(fresh, 1));
  EXPECT_EQ(InstalledVersion(scenario), "1.4.1.34242");
  EXPECT_EQ(ListFiles(scenario.game + "\\data", "*"), std::vector<std::string>{"chain.dat"});
}

}  // namespace
