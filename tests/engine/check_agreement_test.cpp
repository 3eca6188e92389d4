// mkpatch check is the release engineer's dry run of the updater: for each
// state a player's game can be in, its verdict must be what the updater
// then does. Both run here on the same files, mkpatch in-process.
#include <sstream>
#include <string>

#include "described_run.h"
#include "mkpatch/commands/mkpatch.h"
#include "update/base/md5.h"
#include "whole_file.h"

namespace {

class CheckAgreement : public DescribedRunTest {
 protected:
  // mkpatch check's exit code and report for this test's updater and game.
  int Check(std::string* report) {
    std::ostringstream out, err;
    const int code = RunMkpatch({"check", updaterPath_, gameDir_}, out, err);
    *report = out.str() + err.str();
    return code;
  }

  // The check's verdict, then the run's outcome, must agree; the outcome is
  // returned for the case's own expectations.
  RunChecks ExpectAgreement(const char* state) {
    std::string report;
    const int verdict = Check(&report);
    EXPECT_NE(verdict, 2) << report;
    RunChecks checks;
    const bool applied = Run(&checks) != 0;
    EXPECT_EQ(verdict == 0, applied) << state << "\n" << report << "\nupdater: " << FirstWarning();
    // The check names the exit code of a source mismatch exactly when the
    // updater's run ends with it.
    const std::string named = "refuses with exit code " + std::to_string(RUN_SOURCE_MISMATCH);
    EXPECT_EQ(report.find(named) != std::string::npos,
              OutcomeOfRun(applied, checks, true) == RUN_SOURCE_MISMATCH)
        << state << "\n"
        << report;
    return checks;
  }
};

TEST_F(CheckAgreement, OnEveryStateOfTheInstalledFiles) {
  const std::string old = Pattern(30000, 11);
  std::string fresh = old;
  fresh.insert(1000, "a new function");
  fresh[20000] ^= 0x10;
  const Bytes updater =
      BuildUpdater(64, {DeltaEntry("bin\\app.dll", old, fresh),
                        PathFileEntry("data\\new.dat", Compressible(5000, 12), EntryCoding::Zstd),
                        RemovalEntry("data\\gone.dat", "the old build's bytes")});
  UseUpdater(updater);
  InstallLauncherStandIn();

  // The old build: applies.
  Put("bin\\app.dll", old);
  Put("data\\gone.dat", "the old build's bytes");
  EXPECT_TRUE(ExpectAgreement("old build").sourcesOk);
  EXPECT_EQ(fresh, Read("bin\\app.dll"));
  EXPECT_FALSE(FileExists(Game("data\\gone.dat")));

  // The same updater again on the finished update: every file is already
  // new and the removed one gone. Applies, writing nothing.
  SetInstalledVersion("1.4.1.33960");
  EXPECT_TRUE(ExpectAgreement("already updated").sourcesOk);

  // A source the player changed: refused with exit code 5 by both.
  std::string changed = old;
  changed[5] ^= 0x01;
  Put("bin\\app.dll", changed);
  Put("data\\gone.dat", "changed by the player");
  SetInstalledVersion("1.4.1.33960");
  EXPECT_FALSE(ExpectAgreement("changed source").sourcesOk);
  EXPECT_EQ(changed, Read("bin\\app.dll"));

  // A removal's file the player changed is kept, and does not stop the run.
  Put("bin\\app.dll", old);
  SetInstalledVersion("1.4.1.33960");
  EXPECT_TRUE(ExpectAgreement("changed removal").sourcesOk);
  EXPECT_EQ("changed by the player", Read("data\\gone.dat"));

  // A version outside the patch's range: refused by both.
  Put("bin\\app.dll", old);
  SetInstalledVersion("1.4.1.30000");
  EXPECT_FALSE(ExpectAgreement("old version").versionOk);
}

TEST_F(CheckAgreement, OnADamagedUpdater) {
  const std::string old = Pattern(30000, 13);
  std::string fresh = old;
  fresh[100] ^= 0x01;
  Bytes updater = BuildUpdater(64, {DeltaEntry("bin\\app.dll", old, fresh)});
  ASSERT_TRUE(AddDigestRecord(updater));
  // One stored byte changed after the payload digest was taken.
  const Stored stored = StoredBytes(updater, 0);
  updater[stored.begin + stored.size / 2] ^= 0x20;
  UseUpdater(updater);
  Put("bin\\app.dll", old);
  ExpectAgreement("damaged updater");
  EXPECT_EQ(old, Read("bin\\app.dll"));
}

// Once the two parted here: an entry that writes the very bytes a later
// delta expects at that delta's source. The run would read its own result,
// and a later run could not make the delta's file either: both refuse, the
// updater before it writes anything.
TEST_F(CheckAgreement, OnAPatchThatWritesADeltasSourceBeforeIt) {
  const std::string old = Pattern(20000, 17);
  std::string fresh = old;
  fresh[77] ^= 0x08;
  UseUpdater(BuildUpdater(64, {PathFileEntry("lib\\core-1.dll", old, EntryCoding::Stored),
                               DeltaEntry("lib\\core-2.dll", old, fresh, "lib\\core-1.dll")}));
  Put("lib\\core-1.dll", old);
  std::string report;
  EXPECT_EQ(1, Check(&report));
  EXPECT_NE(report.find("writes before it"), std::string::npos) << report;
  RunChecks checks;
  EXPECT_EQ(0, Run(&checks));
  EXPECT_TRUE(checks.sourcesOk) << "a patch in the wrong order is no mismatch of the game";
  EXPECT_EQ("错误的文件顺序:参数 2 1", FirstWarning());
  EXPECT_FALSE(FileExists(Game("lib\\core-2.dll")));
}

// A patch for every build between its base and its target: at each build,
// with bytes of none, and at the target, the check says what the run does.
TEST_F(CheckAgreement, AtEveryBuildACumulativePatchServes) {
  std::string builds[3] = {Pattern(30000, 31)};
  for (int i = 1; i < 3; ++i) {
    builds[i] = builds[i - 1];
    builds[i].insert(1000 * i, "changed in build " + std::to_string(i));
  }
  UseUpdater(BuildUpdater(64, {StepEntry("bin\\app.dll", builds[0], builds[1]),
                               DeltaEntry("bin\\app.dll", builds[1], builds[2])}));
  for (int b = 0; b < 3; ++b) {
    Put("bin\\app.dll", builds[b]);
    SetInstalledVersion("1.4.1.33960");
    EXPECT_TRUE(ExpectAgreement(("build " + std::to_string(b)).c_str()).sourcesOk);
    EXPECT_EQ(builds[2], Read("bin\\app.dll"));
  }
  std::string changed = builds[1];
  changed[3] ^= 0x04;
  Put("bin\\app.dll", changed);
  SetInstalledVersion("1.4.1.33960");
  EXPECT_FALSE(ExpectAgreement("bytes of no build").sourcesOk);
  EXPECT_EQ(changed, Read("bin\\app.dll"));
}

// A journal of an update cut short in the game directory: another patch's
// and one that cannot be read refuse both, this patch's own is taken back
// by the run, which then goes on. The check also says what room it needs.
TEST_F(CheckAgreement, OnAnUpdateCutShort) {
  const std::string old = Pattern(30000, 41);
  std::string fresh = old;
  fresh[500] ^= 0x02;
  UseUpdater(BuildUpdater(64, {DeltaEntry("bin\\app.dll", old, fresh)}));
  InstallLauncherStandIn();
  Put("bin\\app.dll", old);
  const std::string journal = "TPK_MVR_J_UPDATE.journal";

  Put(journal,
      "journal 1\npatch 0123456789abcdef0123456789abcdef 1.4.1.40000\nstate commit\n"
      "replace bin\\app.dll\n");
  ExpectAgreement("another patch's journal");
  std::string report;
  Check(&report);
  EXPECT_NE(report.find("another patch's update (to 1.4.1.40000)"), std::string::npos) << report;
  EXPECT_EQ(old, Read("bin\\app.dll"));

  Put(journal, "journal 1\npatch ?\n");
  ExpectAgreement("damaged journal");
  Check(&report);
  EXPECT_NE(report.find("cannot be read"), std::string::npos) << report;
  EXPECT_EQ(old, Read("bin\\app.dll"));

  // This updater's own, cut short while it took its files back.
  const std::string bytes = ReadWholeFile(updaterPath_);
  MD5 digest;
  digest.update(reinterpret_cast<const unsigned char*>(bytes.data()),
                static_cast<uint32_t>(bytes.size()));
  digest.finalize();
  Put(journal, "journal 1\npatch " + digest.hex_digest() +
                   " 1.4.1.34242\nstate rollback\nreplace bin\\app.dll\n");
  Put("bin\\app.dll.upd-new", "half a staged file");
  Check(&report);
  EXPECT_NE(report.find("pending commit:    this patch's, to 1.4.1.34242"), std::string::npos)
      << report;
  // The delta is staged beside the file: its new size and the margin.
  EXPECT_NE(report.find("space needed:      " + std::to_string(fresh.size() + (1 << 20)) + " "),
            std::string::npos)
      << report;
  EXPECT_TRUE(ExpectAgreement("this patch's journal").sourcesOk);
  EXPECT_EQ(fresh, Read("bin\\app.dll"));
  EXPECT_FALSE(FileExists(Game(journal)));
  EXPECT_FALSE(FileExists(Game("bin\\app.dll.upd-new")));
}

// An update that was complete, its backups not yet all gone, left one
// build: a version out of its range is refused as such, by both.
TEST_F(CheckAgreement, OnAnEndedUpdateOfAnotherVersion) {
  UseUpdater(BuildUpdater(64, {PathFileEntry("data\\a.dat", "new", EntryCoding::Stored)}));
  Put("TPK_MVR_J_UPDATE.journal",
      "journal 1\npatch 0123456789abcdef0123456789abcdef 1.4.1.33960\nstate done\n"
      "replace data\\a.dat\n");
  SetInstalledVersion("1.4.1.33959");
  EXPECT_FALSE(ExpectAgreement("version out of range").versionOk);
  EXPECT_EQ(std::vector<std::string>{"更新版本号不对,请重新下载!"}, warnings_);
  std::string report;
  Check(&report);
  EXPECT_NE(report.find("installed version 1.4.1.33959 is outside"), std::string::npos) << report;
  EXPECT_EQ(report.find("another patch's update"), std::string::npos) << report;
}

}  // namespace
