// Update.exe started with the game directory: no dialog to be seen, the run
// starts at once, and only failures speak.
#include <gtest/gtest.h>

#include <string>

#include "file_helpers.h"
#include "outcome_checks.h"
#include "payload_builder.h"
#include "test_files.h"
#include "updater_driver.h"

namespace {

constexpr DWORD kRunTimeoutMs = 240000;
const char* const kGeneralFailure = "补丁文件可能已经损坏或无效,请重新下载!";

// The value of `key` in the launcher's key=value record.
std::string RecordValue(const std::string& record, const std::string& key) {
  size_t start = record.find(key + "=");
  if (start == std::string::npos) return std::string();
  start += key.size() + 1;
  return record.substr(start, record.find_first_of("\r\n", start) - start);
}

TEST(AutomaticMode, SuccessfulRunIsSilentAndRecordsTheVersion) {
  PatchLayout layout;
  layout.files = {
      {"patch.tpk", BarePackage({{"pak\\content.dat", "packaged bytes"}})},
      {"readme.txt", "new readme"},
      {"data\\x.dll", std::string(10000, 'd')},
  };
  UpdateScenario scenario = MakeScenario("auto_success", layout, "1.4.1.33960", true);
  LauncherHold hold(scenario.game);
  ScopedTempDir temp(scenario.work + "\\tmp");

  UpdaterProcess updater;
  ASSERT_TRUE(updater.Start(scenario.updater, Quoted(scenario.game) + " ignored-second"));
  // The launcher holds the run. Once the dialog has handled a message posted
  // now, its modal loop has run idle, where it would have shown the dialog.
  DialogSnapshot during;
  ASSERT_TRUE(updater.WaitForDialogState(
      kRunTimeoutMs, [](const DialogSnapshot& seen) { return seen.statusText == "正在加入文件"; },
      &during));
  ASSERT_TRUE(updater.WaitUntilHandled(kRunTimeoutMs));
  EXPECT_FALSE(IsWindowVisible(during.window));
  // The MD5 recorded below was taken when the run began: nobody can write to
  // or delete a running program's file meanwhile, here under Wine as well.
  {
    UniqueHandle writer(CreateFileA(scenario.updater.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    const DWORD refusal = GetLastError();
    EXPECT_FALSE(writer.IsValid());
    EXPECT_EQ(refusal, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(DeleteFileA(scenario.updater.c_str()));
  }
  hold.Release();
  UpdaterOutcome outcome = updater.RunToEnd(kRunTimeoutMs);

  ASSERT_TRUE(EndedSilently(outcome));
  EXPECT_EQ(outcome.exitCode, 0u);
  // Extracted entries, their folders and the launcher's files are all gone.
  EXPECT_EQ(ListFiles(temp.Path(), "*"), std::vector<std::string>{});
  ASSERT_TRUE(outcome.dialogSeen);
  EXPECT_FALSE(outcome.dialogEverVisible);
  EXPECT_FALSE(outcome.lastDialog.updateEnabled);
  EXPECT_EQ(outcome.lastDialog.dirText, scenario.game);

  EXPECT_EQ(ReadWholeFile(scenario.game + "\\readme.txt"), "new readme");
  EXPECT_EQ(ReadWholeFile(scenario.game + "\\x.dll"), std::string(10000, 'd'));
  EXPECT_EQ(ReadWholeFile(scenario.game + "\\pak\\content.dat"), "packaged bytes");
  EXPECT_EQ(InstalledVersion(scenario), "1.4.1.34242");
  EXPECT_EQ(IniValue(scenario.game + "\\Config\\Client.ini", "Version", "MD5"),
            Md5OfFile(scenario.updater));

  // The launcher got the hidden dialog's handle through launch.txt.
  std::string received = ReadWholeFile(scenario.game + "\\launch_received.txt");
  EXPECT_EQ(RecordValue(received, "args_ok"), "1") << received;
  EXPECT_EQ(RecordValue(received, "launch_txt_ok"), "1") << received;
  EXPECT_EQ(RecordValue(received, "gamedir"), scenario.game) << received;
  std::string handle =
      std::to_string(static_cast<int>(reinterpret_cast<intptr_t>(outcome.lastDialog.window)));
  EXPECT_EQ(RecordValue(received, "handle"), handle) << received;
}

TEST(AutomaticMode, DamagedPatchShowsItsErrorThenTheGeneralMessage) {
  PatchLayout layout = ReadmePatch();
  layout.totalSizeSkew = 1;
  UpdateScenario scenario = MakeScenario("auto_damaged", layout, "1.4.1.33960", false);

  UpdaterOutcome outcome = RunUpdater(scenario.updater, Quoted(scenario.game), kRunTimeoutMs);
  // The run's own text (claimed size, real size, magic), then the general message.
  const size_t size = ReadWholeFile(scenario.updater).size();
  const std::string sizeText =
      "错误文件长度: " + std::to_string(size + 1) + " " + std::to_string(size) + " 508773209";
  EXPECT_TRUE(EndedAfterBoxes(outcome, {sizeText, kGeneralFailure}));
  EXPECT_EQ(outcome.exitCode, 1u);
  EXPECT_FALSE(outcome.dialogEverVisible);
  EXPECT_FALSE(FileExists(scenario.game + "\\readme.txt"));
  EXPECT_EQ(InstalledVersion(scenario), "1.4.1.33960");
}

TEST(AutomaticMode, DamagedEntryUnderADigestShowsItsTextThenTheGeneralMessage) {
  UpdateScenario scenario = MakeScenario("auto_digest", ReadmePatch(), "1.4.1.33960", false);
  const std::string program = ReadWholeFile(BuiltUpdateExe());
  std::string file = ReadWholeFile(scenario.updater);
  std::vector<unsigned char> bytes(file.begin(), file.end());
  ASSERT_TRUE(AddDigestRecord(bytes));
  bytes[program.size() + PATCH_ENTRY_HEADER_SIZE] ^= 0x01;  // "new readme" -> "oew readme"
  ASSERT_TRUE(WriteWholeFile(scenario.updater, std::string(bytes.begin(), bytes.end())));

  UpdaterOutcome outcome = RunUpdater(scenario.updater, Quoted(scenario.game), kRunTimeoutMs);
  const std::string region = std::to_string(PATCH_ENTRY_HEADER_SIZE + 10);
  EXPECT_TRUE(
      EndedAfterBoxes(outcome, {"错误的文件校验:参数 " + region + " " + region, kGeneralFailure}));
  EXPECT_FALSE(FileExists(scenario.game + "\\readme.txt"));
  EXPECT_EQ(InstalledVersion(scenario), "1.4.1.33960");
}

TEST(AutomaticMode, RefusedVersionEndsSilently) {
  UpdateScenario scenario = MakeScenario("auto_old_version", ReadmePatch(), "1.4.1.33959", false);

  UpdaterOutcome outcome = RunUpdater(scenario.updater, Quoted(scenario.game), kRunTimeoutMs);
  EXPECT_TRUE(EndedSilently(outcome));
  EXPECT_EQ(outcome.exitCode, 3u);
  EXPECT_FALSE(FileExists(scenario.game + "\\readme.txt"));
  EXPECT_EQ(InstalledVersion(scenario), "1.4.1.33959");
  EXPECT_EQ(IniValue(scenario.game + "\\Config\\Client.ini", "Version", "MD5"), "");
}

TEST(AutomaticMode, VersionRecordThatCannotBeWrittenEndsWithFour) {
  UpdateScenario scenario = MakeScenario("auto_unrecorded", ReadmePatch(), "1.4.1.33960", false);
  UpdaterOutcome outcome;
  {
    // Another program keeps the configuration open for reading only.
    UniqueHandle held(CreateFileA((scenario.game + "\\Config\\Client.ini").c_str(), GENERIC_READ,
                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.IsValid());
    outcome = RunUpdater(scenario.updater, Quoted(scenario.game), kRunTimeoutMs);
  }
  EXPECT_TRUE(EndedSilently(outcome));
  EXPECT_EQ(outcome.exitCode, 4u);
  EXPECT_EQ(ReadWholeFile(scenario.game + "\\readme.txt"), "new readme");
  EXPECT_EQ(InstalledVersion(scenario), "1.4.1.33960");
}

}  // namespace
