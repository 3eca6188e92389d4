// Update.exe with the game directory on a small volume for real: a tmpfs of
// 4 MiB that with_small_volume.sh mounts where the machine allows it and
// names in UPDATE_SMALL_VOLUME (a Unix path, reached through drive Z:).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "file_helpers.h"
#include "outcome_checks.h"
#include "payload_builder.h"
#include "test_files.h"
#include "updater_driver.h"

namespace {

constexpr DWORD kRunTimeoutMs = 240000;

TEST(SmallVolume, TooLittleRoomIsRefusedBeforeAnythingIsWrittenThenAFittingPatchRuns) {
  const char* mount = std::getenv("UPDATE_SMALL_VOLUME");
  if (mount == nullptr || mount[0] == '\0') {
    GTEST_SKIP() << "no small volume: with_small_volume.sh mounts a tmpfs only as root, "
                    "where mount -t tmpfs is allowed";
  }
  const std::string work = MakeWorkDir("small_volume");
  const std::string game = WindowsPath(mount) + "\\game";
  RemoveTree(game);
  ASSERT_TRUE(CreateDirectoryA(game.c_str(), nullptr));
  MakeGameInstall(game, "1.4.1.33960", false);
  ScopedTempDir temp(work + "\\tmp");

  // Five MiB do not fit on four, however the temporary folder's volume counts.
  PatchLayout big;
  big.files = {{"big.dat", std::string(1 << 20, 'b'), 5}};
  const std::string updater = work + "\\Update.exe";
  ASSERT_TRUE(MakeUpdaterFile(updater, big));
  UpdaterOutcome outcome = RunUpdater(updater, Quoted(game), kRunTimeoutMs);
  ASSERT_TRUE(outcome.exited) << Describe(outcome);
  EXPECT_EQ(outcome.exitCode, 6u) << Describe(outcome);
  ASSERT_EQ(outcome.boxes.size(), 1u) << "no word of a damaged updater: " << Describe(outcome);
  // Four MiB less what the installation takes, against five and the margin.
  const std::string text = "磁盘空间不足,还需要 3 MB,请释放空间后重新运行更新程序! ";
  EXPECT_EQ(outcome.boxes[0].text.substr(0, text.size()), text) << Describe(outcome);
  // The volume is the mounted folder, cut where the text's room ends.
  const std::string volume = game.substr(0, game.size() - std::strlen("game"));
  EXPECT_EQ(outcome.boxes[0].text.substr(text.size()), volume.substr(0, 99 - text.size()));
  EXPECT_EQ(ListFiles(game, "*"), std::vector<std::string>{"Config"});
  EXPECT_EQ(IniValue(game + "\\Config\\Client.ini", "Version", "GameVersion"), "1.4.1.33960");
  EXPECT_EQ(ListFiles(temp.Path(), "*"), std::vector<std::string>{});

  // Every file is staged beside its target before the first one goes in
  // place, so room for the largest is not enough: all three at once are.
  PatchLayout several;
  const std::string part(1200 * 1024, 'p');
  several.files = {{"one.dat", part}, {"two.dat", part}, {"three.dat", part}};
  ASSERT_TRUE(MakeUpdaterFile(updater, several));
  outcome = RunUpdater(updater, Quoted(game), kRunTimeoutMs);
  ASSERT_TRUE(outcome.exited) << Describe(outcome);
  EXPECT_EQ(outcome.exitCode, 6u) << Describe(outcome);
  ASSERT_EQ(outcome.boxes.size(), 1u) << Describe(outcome);
  EXPECT_EQ(outcome.boxes[0].text.find("磁盘空间不足,还需要 "), 0u) << Describe(outcome);
  EXPECT_EQ(ListFiles(game, "*"), std::vector<std::string>{"Config"});
  EXPECT_EQ(ListFiles(temp.Path(), "*"), std::vector<std::string>{});

  // A patch that fits is not refused: the free space is the small volume's own.
  PatchLayout fits;
  fits.files = {{"small.dat", std::string(100000, 's')}};
  ASSERT_TRUE(MakeUpdaterFile(updater, fits));
  outcome = RunUpdater(updater, Quoted(game), kRunTimeoutMs);
  ASSERT_TRUE(EndedSilently(outcome));
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(ReadWholeFile(game + "\\small.dat"), std::string(100000, 's'));
  RemoveTree(game);
}

}  // namespace
