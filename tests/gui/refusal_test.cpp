// Starts that must not update anything: another updater running, the game
// running, and leaving the dialog with Escape or the close box.
#include <gtest/gtest.h>

#include <string>

#include "outcome_checks.h"
#include "test_files.h"
#include "updater_driver.h"

namespace {

constexpr DWORD kTimeoutMs = 240000;
const char* const kGameRunning = "游戏正在运行,请退出游戏后重新更新补丁!";

TEST(Refusal, SecondUpdaterEndsWithTwoAndEscapeEndsTheFirst) {
  UpdateScenario scenario = MakeScenario("second_updater", ReadmePatch(), "1.4.1.33960", false);
  UninstallEntry noEntry(nullptr);

  UpdaterProcess first;
  ASSERT_TRUE(first.Start(scenario.updater, ""));
  DialogSnapshot shown;
  ASSERT_TRUE(first.WaitForVisibleDialog(kTimeoutMs, &shown));

  EXPECT_TRUE(RefusedWith(RunUpdater(scenario.updater, Quoted(scenario.game), kTimeoutMs),
                          "无法同时运行两个更新补丁"));
  EXPECT_EQ(InstalledVersion(scenario), "1.4.1.33960");
  EXPECT_FALSE(FileExists(scenario.game + "\\readme.txt"));

  first.PressEscape();
  UpdaterOutcome escaped = first.RunToEnd(kTimeoutMs);
  EXPECT_TRUE(EndedSilently(escaped));
  EXPECT_EQ(escaped.exitCode, 2u);

  // With the first one gone the name is free again; the close box ends it too.
  UpdaterProcess third;
  ASSERT_TRUE(third.Start(scenario.updater, ""));
  ASSERT_TRUE(third.WaitForVisibleDialog(kTimeoutMs, &shown));
  third.CloseBox();
  UpdaterOutcome closed = third.RunToEnd(kTimeoutMs);
  EXPECT_TRUE(EndedSilently(closed));
  EXPECT_EQ(closed.exitCode, 2u);
}

TEST(Refusal, RunningGameBlocksBothModes) {
  UpdateScenario scenario = MakeScenario("game_running", ReadmePatch(), "1.4.1.33960", false);
  {
    NamedProcess game(scenario.work, "Game.exe");
    ASSERT_TRUE(game.Running());
    UpdaterOutcome outcome = RunUpdater(scenario.updater, Quoted(scenario.game), kTimeoutMs);
    EXPECT_TRUE(RefusedWith(outcome, kGameRunning));
    EXPECT_FALSE(outcome.dialogEverVisible);
  }
  {
    UninstallEntry entry((scenario.game + "\\uninst.exe").c_str());
    NamedProcess game(scenario.work, "Game_08d.exe");
    ASSERT_TRUE(game.Running());
    EXPECT_TRUE(RefusedWith(RunUpdater(scenario.updater, "", kTimeoutMs), kGameRunning));
  }
  EXPECT_FALSE(FileExists(scenario.game + "\\readme.txt"));
  EXPECT_EQ(InstalledVersion(scenario), "1.4.1.33960");
}

TEST(Refusal, NamesThatOnlyLookLikeTheGameDoNotBlock) {
  UpdateScenario scenario = MakeScenario("game_lookalike", ReadmePatch(), "1.4.1.33960", false);
  NamedProcess lowercase(scenario.work, "game.exe");
  NamedProcess suffixed(scenario.work, "Game.exe.bak");
  ASSERT_TRUE(lowercase.Running());

  EXPECT_TRUE(EndedSilently(RunUpdater(scenario.updater, Quoted(scenario.game), kTimeoutMs)));
  EXPECT_EQ(ReadWholeFile(scenario.game + "\\readme.txt"), "new readme");
  EXPECT_EQ(InstalledVersion(scenario), "1.4.1.34242");
}

TEST(Refusal, DirectoryTooLongForTheFieldIsRefused) {
  UpdateScenario scenario = MakeScenario("auto_long_dir", ReadmePatch(), "1.4.1.33960", false);
  EXPECT_TRUE(
      RefusedWith(RunUpdater(scenario.updater, Quoted("C:\\" + std::string(280, 'g')), kTimeoutMs),
                  "对不起，不正确的Orvenna游戏目录!"));
}

}  // namespace
