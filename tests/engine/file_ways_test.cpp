// One patch for every build between its base and its target: each file is
// brought to its new bytes from whatever old build's bytes are installed,
// by a delta, a chain of steps through later builds' bytes, or the file
// whole, and nothing but what that installation needs is applied.
#include "described_run.h"
#include "update/files/remove_tree.h"

namespace {

class FileWays : public DescribedRunTest {
 public:
  using DescribedRunTest::Put;

 protected:
  // A game directory as SetUp leaves it, for the next installation.
  void ResetGame() {
    RemoveTree(gameDir_.c_str());
    MakeDirectoryTree(gameDir_ + "\\Config");
    SetInstalledVersion("1.4.1.34000");
    warnings_.clear();
    progress_.clear();
  }
};

// A program's builds: each changes a few bytes and inserts some, so that a
// delta between two is far smaller than either.
std::string Evolve(std::string bytes, unsigned seed) {
  bytes[100 + seed] ^= 0x01;
  bytes[bytes.size() / 2 + seed] ^= 0x10;
  bytes.insert(bytes.size() / 3, "build " + std::to_string(seed));
  return bytes;
}

// Three old builds and the new one, as mkpatch diff would write the patch:
// app.dll changed in every build (steps through each later build's bytes),
// data.dat added in the middle build (a delta from its bytes, and the file
// whole for the base build that lacks it), gone.txt removed in the middle
// build, lib\core.dll moved from old\core.dll in the middle build.
struct Builds {
  std::string app[4];
  std::string data[4];  // none in the base build
  std::string core[4];  // at old\core.dll in the base build
  std::string gone = "removed in the middle build";

  Builds() {
    app[0] = Pattern(30000, 21);
    for (int i = 1; i < 4; ++i) app[i] = Evolve(app[i - 1], static_cast<unsigned>(i));
    data[1] = data[2] = Pattern(20000, 22);
    data[3] = Evolve(data[2], 7);
    core[0] = core[1] = core[2] = Pattern(25000, 23);
    core[3] = Evolve(core[2], 9);
  }

  std::vector<PayloadFile> Patch() const {
    return {StepEntry("app.dll", app[0], app[1]),
            StepEntry("app.dll", app[1], app[2]),
            DeltaEntry("app.dll", app[2], app[3]),
            DeltaEntry("data.dat", data[2], data[3]),
            PathFileEntry("data.dat", data[3], EntryCoding::Stored),
            DeltaEntry("lib\\core.dll", core[0], core[3], "old\\core.dll"),
            DeltaEntry("lib\\core.dll", core[1], core[3]),
            RemovalEntry("gone.txt", gone),
            RemovalEntry("old\\core.dll", core[0])};
  }

  // The game as build `b` installs it.
  void Install(FileWays& test, int b) const {
    test.Put("app.dll", app[b]);
    if (b >= 1) test.Put("data.dat", data[b]);
    if (b == 0) test.Put("gone.txt", gone);
    test.Put(b == 0 ? "old\\core.dll" : "lib\\core.dll", core[b]);
  }
};

TEST_F(FileWays, EveryOldBuildReachesTheNewOne) {
  const Builds builds;
  for (int b = 0; b < 3; ++b) {
    SCOPED_TRACE("from build " + std::to_string(b));
    ResetGame();
    builds.Install(*this, b);
    UseUpdater(BuildUpdater(64, builds.Patch()));
    RunChecks checks;
    ASSERT_EQ(1, Run(&checks)) << FirstWarning();
    EXPECT_EQ(builds.app[3], Read("app.dll"));
    EXPECT_EQ(builds.data[3], Read("data.dat"));
    EXPECT_EQ(builds.core[3], Read("lib\\core.dll"));
    EXPECT_FALSE(FileExists(Game("gone.txt")));
    EXPECT_FALSE(DirectoryExists(Game("old")));
    const auto files = TreeContents(gameDir_);
    for (const auto& file : files) {
      EXPECT_EQ(file.first.find(".upd-"), std::string::npos) << file.first << " left behind";
    }
  }
}

// The way of app.dll from the base build is three entries long; progress
// counts it as one file from nothing to the whole, and the entries the way
// passes by report nothing.
TEST_F(FileWays, AChainReportsAsOneFile) {
  const Builds builds;
  builds.Install(*this, 0);
  UseUpdater(BuildUpdater(64, builds.Patch()));
  RunChecks checks;
  ASSERT_EQ(1, Run(&checks)) << FirstWarning();
  std::vector<ProgressEvent> app;
  for (const ProgressEvent& event : progress_) {
    if (event.code == PG_EXTRACT_BEGIN || event.code == PG_INSTALL_END) {
      EXPECT_NE(event.a, 2u) << "an entry the way passed by reported";
      EXPECT_NE(event.a, 4u) << "a delta the base build cannot use reported";
    }
  }
  uint64_t total = builds.app[1].size() + builds.app[2].size() + builds.app[3].size();
  uint32_t last = UINT32_MAX;
  bool started = false, ended = false;
  for (const ProgressEvent& event : progress_) {
    if (event.code == PG_EXTRACT_BEGIN) started = event.a == 1;
    if (!started || event.code != PG_EXTRACT_BYTES) continue;
    EXPECT_EQ(event.b, total);
    EXPECT_LT(event.a, last) << "the bar went back";
    last = event.a;
    if (event.a == 0) ended = true;
    if (ended) break;
  }
  EXPECT_TRUE(ended) << "the chain's bar did not reach its end";
}

TEST_F(FileWays, BytesOfNoKnownBuildRefuseUnlessTheFileShipsWhole) {
  const Builds builds;
  builds.Install(*this, 1);
  std::string changed = builds.app[1];
  changed[7] ^= 0x01;
  Put("app.dll", changed);
  UseUpdater(BuildUpdater(64, builds.Patch()));
  const auto before = TreeContents(gameDir_);
  RunChecks checks;
  EXPECT_EQ(0, Run(&checks));
  EXPECT_FALSE(checks.sourcesOk) << "exit code 5";
  EXPECT_EQ(Shown("游戏文件与补丁不符,请修复游戏或下载完整补丁:" + Game("app.dll")),
            FirstWarning());
  EXPECT_TRUE(before == TreeContents(gameDir_)) << "nothing is written";

  // data.dat has its whole file: the player's changed copy is replaced.
  Put("app.dll", builds.app[1]);
  Put("data.dat", "changed by the player");
  SetInstalledVersion("1.4.1.33960");
  ASSERT_EQ(1, Run(&checks)) << FirstWarning();
  EXPECT_EQ(builds.data[3], Read("data.dat"));
}

}  // namespace
