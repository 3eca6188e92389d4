// Update.exe started by hand: the directory from the uninstall entry or a
// prompt, the update button, the folder browser, and what happens while a
// run is under way.
#include <gtest/gtest.h>

#include <string>

#include "outcome_checks.h"
#include "test_files.h"
#include "updater_driver.h"

namespace {

constexpr DWORD kTimeoutMs = 240000;
const char* const kPrompt = "            点击这里选择《Orvenna》游戏目录进行更新";
const char* const kChooseFirst = "请先选择要更新的Orvenna游戏目录!";
const char* const kDone = "更新补丁文件完成!!";

// Starts the updater by hand with the game's uninstall entry naming the
// scenario's game, and waits until its dialog shows, as `shown`.
bool StartByHand(UpdaterProcess& updater, const UpdateScenario& scenario, DialogSnapshot* shown) {
  UninstallEntry entry((scenario.game + "\\uninst.exe").c_str());
  return updater.Start(scenario.updater, "") && updater.WaitForVisibleDialog(kTimeoutMs, shown);
}

PatchLayout TwoFilePatch() {
  PatchLayout layout = ReadmePatch();
  layout.files.push_back({"data\\x.dll", std::string(70000, 'x')});
  return layout;
}

TEST(InteractiveMode, UninstallEntryDirectoryAndTheUpdateButton) {
  UpdateScenario scenario =
      MakeScenario("interactive_button", TwoFilePatch(), "1.4.1.33960", false, "patch.new.exe");
  UpdaterProcess updater;
  DialogSnapshot shown;
  ASSERT_TRUE(StartByHand(updater, scenario, &shown));
  EXPECT_EQ(shown.title, "Orvenna更新补丁(patch.new)，双击目录名可更换更新目录");
  EXPECT_EQ(shown.dirText, scenario.game);
  EXPECT_TRUE(shown.updateEnabled);
  EXPECT_EQ(shown.statusText, "");

  updater.ClickUpdate();
  UpdaterOutcome outcome = updater.RunToEnd(kTimeoutMs);
  ASSERT_TRUE(EndedAfterBoxes(outcome, {kDone}));
  EXPECT_EQ(outcome.exitCode, 0u);
  // The bar and the status line as the run left them, seen while the box was up.
  const DialogSnapshot& after = outcome.boxes[0].dialog;
  EXPECT_EQ(after.progressPos, 100);
  EXPECT_EQ(after.rangeLow, 1);
  EXPECT_EQ(after.rangeHigh, 100);
  EXPECT_EQ(after.statusText, "正在加入文件");

  EXPECT_EQ(ReadWholeFile(scenario.game + "\\readme.txt"), "new readme");
  EXPECT_EQ(InstalledVersion(scenario), "1.4.1.34242");
}

TEST(InteractiveMode, FailureAndRefusedVersionEndWithTheirCodesOnceTheBoxIsClosed) {
  PatchLayout damaged = ReadmePatch();
  damaged.totalSizeSkew = 1;
  struct Case {
    const char* name;
    PatchLayout layout;
    const char* installed;
    size_t boxes;
    DWORD exitCode;
  };
  const Case cases[] = {{"interactive_damaged", damaged, "1.4.1.33960", 2, 1},
                        {"interactive_old_version", ReadmePatch(), "1.4.1.33959", 1, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateScenario scenario = MakeScenario(c.name, c.layout, c.installed, false);
    UpdaterProcess updater;
    DialogSnapshot shown;
    ASSERT_TRUE(StartByHand(updater, scenario, &shown));
    updater.ClickUpdate();
    UpdaterOutcome outcome = updater.RunToEnd(kTimeoutMs);
    EXPECT_TRUE(outcome.exited) << Describe(outcome);
    EXPECT_EQ(outcome.boxes.size(), c.boxes) << Describe(outcome);
    EXPECT_EQ(outcome.exitCode, c.exitCode);
    EXPECT_FALSE(FileExists(scenario.game + "\\readme.txt"));
  }
}

TEST(InteractiveMode, WithoutAUsableEntryThePromptAsksForAFolder) {
  UpdateScenario scenario =
      MakeScenario("interactive_prompt", TwoFilePatch(), "1.4.1.33960", false);
  struct Case {
    bool present;
    std::string uninstallString;
    std::string expectedText;
  };
  const Case cases[] = {
      {false, "", kPrompt},
      {true, "uninst.exe", kPrompt},
      // Quotes are kept, so the folder is not valid.
      {true, "\"" + scenario.game + "\\uninst.exe\"", "\"" + scenario.game},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.uninstallString);
    UninstallEntry entry(c.present ? c.uninstallString.c_str() : nullptr);
    UpdaterProcess updater;
    ASSERT_TRUE(updater.Start(scenario.updater, ""));
    DialogSnapshot shown;
    ASSERT_TRUE(updater.WaitForVisibleDialog(kTimeoutMs, &shown));
    EXPECT_EQ(shown.dirText, c.expectedText);

    updater.ClickUpdate();
    HWND box = updater.WaitForMessageBox(kTimeoutMs);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(updater.AnswerMessageBox(box).text, kChooseFirst);
    // The dialog keeps waiting for a usable folder.
    ASSERT_TRUE(updater.WaitForVisibleDialog(kTimeoutMs, &shown));
    updater.PressEscape();
    UpdaterOutcome outcome = updater.RunToEnd(kTimeoutMs);
    EXPECT_TRUE(EndedSilently(outcome));
    EXPECT_EQ(outcome.exitCode, 2u);
  }
  EXPECT_FALSE(FileExists(scenario.game + "\\readme.txt"));
}

TEST(InteractiveMode, CancelledBrowserStillStartsAValidDirectory) {
  UpdateScenario scenario =
      MakeScenario("interactive_browser", TwoFilePatch(), "1.4.1.33960", false);
  UpdaterProcess updater;
  DialogSnapshot shown;
  ASSERT_TRUE(StartByHand(updater, scenario, &shown));
  updater.ClickGameDir();
  HWND browser = updater.WaitForFolderBrowser(kTimeoutMs);
  ASSERT_NE(browser, nullptr);
  EXPECT_TRUE(HasChildWithText(browser, "选择【Orvenna】游戏的安装目录:"));
  PostMessageA(browser, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);

  UpdaterOutcome outcome = updater.RunToEnd(kTimeoutMs);
  ASSERT_TRUE(EndedAfterBoxes(outcome, {kDone}));
  EXPECT_EQ(outcome.boxes[0].dialog.dirText, scenario.game);
  EXPECT_EQ(InstalledVersion(scenario), "1.4.1.34242");
}

TEST(InteractiveMode, ClosingOrChoosingDuringARunWaitsForTheRun) {
  PatchLayout layout;
  layout.files = {{"patch.tpk", BarePackage({{"pak\\content.dat", "packaged bytes"}})},
                  {"readme.txt", "new readme"}};
  UpdateScenario scenario =
      MakeScenario("interactive_close_during_run", layout, "1.4.1.33960", true);
  LauncherHold hold(scenario.game);
  UninstallEntry entry((scenario.game + "\\uninst.exe").c_str());

  UpdaterProcess updater;
  DialogSnapshot shown;
  ASSERT_TRUE(StartByHand(updater, scenario, &shown));
  updater.ClickUpdate();
  // The launcher is installing the package and holds until released.
  ASSERT_TRUE(updater.WaitForDialogState(
      kTimeoutMs, [](const DialogSnapshot& seen) { return seen.statusText == "正在加入文件"; },
      &shown));

  updater.CloseBox();
  updater.PressEscape();
  updater.ClickGameDir();
  updater.ClickUpdate();  // a second start during the run ends at once
  ASSERT_TRUE(updater.WaitUntilHandled(kTimeoutMs)) << "the program ended in the middle of the run";
  ASSERT_EQ(updater.FindFolderBrowser(), nullptr) << "a folder could be chosen during the run";
  hold.Release();

  // One box: the second start during the run said nothing.
  EXPECT_TRUE(EndedAfterBoxes(updater.RunToEnd(kTimeoutMs), {kDone}));
  EXPECT_EQ(ReadWholeFile(scenario.game + "\\pak\\content.dat"), "packaged bytes");
  EXPECT_EQ(ReadWholeFile(scenario.game + "\\readme.txt"), "new readme");
  EXPECT_EQ(InstalledVersion(scenario), "1.4.1.34242");
  EXPECT_EQ(IniValue(scenario.game + "\\Config\\Client.ini", "Version", "MD5"),
            Md5OfFile(scenario.updater));
}

}  // namespace
