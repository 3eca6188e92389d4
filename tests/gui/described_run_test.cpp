// Update.exe with described entries, as a launcher sees it: installed files
// that are not the build the patch was made from end the run with exit code
// 5 and the one box that names the file; the updater is not called damaged.
#include <gtest/gtest.h>

#include <string>

#include "file_helpers.h"
#include "outcome_checks.h"
#include "payload_builder.h"
#include "test_files.h"
#include "updater_driver.h"

namespace {

constexpr DWORD kRunTimeoutMs = 240000;

TEST(DescribedRun, InstalledFilesThatDoNotFitEndWithFiveAndOneBoxNamingTheFile) {
  EntryDescriptor delta =
      DescribeFile(EntryKind::PathFile, EntryCoding::Delta, "new bytes", "bin\\app.exe");
  DescribeSource(delta, "old bytes");
  PatchLayout layout;
  // Never decoded: the source is checked first.
  layout.files = {{"readme.txt", "new readme"},
                  DescribedFile("app.exe", delta, "stored delta bytes")};
  UpdateScenario scenario = MakeScenario("described_mismatch", layout, "1.4.1.33960", false);
  MakeDirectoryTree(scenario.game + "\\bin");
  ASSERT_TRUE(WriteWholeFile(scenario.game + "\\bin\\app.exe", "changed bytes"));
  ScopedTempDir temp(scenario.work + "\\tmp");

  UpdaterOutcome outcome = RunUpdater(scenario.updater, Quoted(scenario.game), kRunTimeoutMs);
  const std::string text =
      "游戏文件与补丁不符,请修复游戏或下载完整补丁:" + scenario.game + "\\bin\\app.exe";
  EXPECT_TRUE(EndedAfterBoxes(outcome, {text.substr(0, 99)}));
  EXPECT_EQ(outcome.exitCode, 5u);
  EXPECT_EQ(ReadWholeFile(scenario.game + "\\bin\\app.exe"), "changed bytes");
  EXPECT_FALSE(FileExists(scenario.game + "\\readme.txt"));
  EXPECT_EQ(InstalledVersion(scenario), "1.4.1.33960");
  EXPECT_EQ(ListFiles(temp.Path(), "*"), std::vector<std::string>{});
}

}  // namespace
