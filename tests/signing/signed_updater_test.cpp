// Updaters signed after mkpatch built them, run for real. Three steps, as
// three ctest tests: Make builds unsigned updaters with mkpatch whose sizes
// cover every remainder modulo 8 (so every amount of alignment padding);
// sign_updaters.sh signs them on the host; Run starts each signed updater in
// automatic mode on a game of its own.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "mkpatch/commands/mkpatch.h"
#include "outcome_checks.h"
#include "test_files.h"
#include "update/format/payload.h"
#include "updater_driver.h"

namespace {

constexpr DWORD kRunTimeoutMs = 240000;
constexpr int kRemainders = 8;
const char* const kBase = "1.4.1.33960";
const char* const kTarget = "1.4.1.34242";

// Shared with sign_updaters.sh, beside the test program.
std::string WorkDir() {
  char current[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof(current), current);
  return std::string(current) + "\\signed-work";
}
std::string UpdaterPath(int remainder, const char* suffix) {
  return WorkDir() + "\\updater-" + std::to_string(remainder) + suffix;
}
// Each updater installs a readme whose length sets the file's size: stub,
// entry header, readme and trailer leave `remainder` modulo 8.
std::string Readme(int remainder) {
  const size_t stub = ReadWholeFile(BuiltUpdateExe()).size();
  std::string readme = "readme " + std::to_string(remainder) + "\r\n";
  while ((stub + 84 + readme.size() + 136) % 8 != static_cast<size_t>(remainder)) readme += '.';
  return readme;
}

}  // namespace

TEST(SignedUpdaters, Make) {
  const std::string work = WorkDir();
  CreateDirectoryA(work.c_str(), nullptr);
  ASSERT_TRUE(FileExists(BuiltUpdateExe()));
  for (int remainder = 0; remainder < kRemainders; ++remainder) {
    const std::string input = work + "\\readme.txt";
    ASSERT_TRUE(WriteWholeFile(input, Readme(remainder)));
    std::ostringstream out, err;
    ASSERT_EQ(RunMkpatch({"build", "-o", UpdaterPath(remainder, ".exe"), "--stub", BuiltUpdateExe(),
                          "--base", kBase, "--target", kTarget, input},
                         out, err),
              0)
        << err.str();
  }
}

TEST(SignedUpdaters, RunAsIfUnsigned) {
  for (int remainder = 0; remainder < kRemainders; ++remainder) {
    SCOPED_TRACE("unsigned size modulo 8: " + std::to_string(remainder));
    const std::string updater = UpdaterPath(remainder, ".signed.exe");
    ASSERT_TRUE(FileExists(updater)) << "sign_updaters.sh made no " << updater;
    ASSERT_GT(ReadWholeFile(updater).size(), ReadWholeFile(UpdaterPath(remainder, ".exe")).size());
    const std::string game = WorkDir() + "\\game-" + std::to_string(remainder);
    MakeGameInstall(game, kBase, false);

    EXPECT_TRUE(EndedSilently(RunUpdater(updater, Quoted(game), kRunTimeoutMs)));
    EXPECT_EQ(ReadWholeFile(game + "\\readme.txt"), Readme(remainder));
    EXPECT_EQ(IniValue(game + "\\Config\\Client.ini", "Version", "GameVersion"), kTarget);
    // The digest of the file as shipped: the signature included.
    EXPECT_EQ(IniValue(game + "\\Config\\Client.ini", "Version", "MD5"), Md5OfFile(updater));
  }
}

TEST(SignedUpdaters, UnsignedWithBytesAfterTheTrailerIsStillRefused) {
  const std::string unsignedUpdater = ReadWholeFile(UpdaterPath(3, ".exe"));
  ASSERT_FALSE(unsignedUpdater.empty());
  const std::string longer = WorkDir() + "\\longer.exe";
  ASSERT_TRUE(WriteWholeFile(longer, unsignedUpdater + std::string(5, '\0')));
  const std::string game = WorkDir() + "\\game-longer";
  MakeGameInstall(game, kBase, false);

  UpdaterOutcome outcome = RunUpdater(longer, Quoted(game), kRunTimeoutMs);
  // The last 136 bytes are no trailer: the magic printed is whatever lies there.
  const std::string tail = unsignedUpdater.substr(unsignedUpdater.size() - 136 + 5, 16);
  const int magic = static_cast<int>(ReadLe32(reinterpret_cast<const unsigned char*>(tail.data())));
  const int total =
      static_cast<int>(ReadLe32(reinterpret_cast<const unsigned char*>(tail.data() + 12)));
  const std::string text = "错误文件长度: " + std::to_string(total) + " " +
                           std::to_string(unsignedUpdater.size() + 5) + " " + std::to_string(magic);
  // The versions come from those bytes too, so the gate refuses as well and
  // the general message stays away.
  EXPECT_TRUE(EndedAfterBoxes(outcome, {text}));
  EXPECT_EQ(IniValue(game + "\\Config\\Client.ini", "Version", "GameVersion"), kBase);
}
