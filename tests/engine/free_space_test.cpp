// A disk too small for the run: refused after the payload checks and before
// the first write, with the volume and the megabytes missing, through the
// seam for the free-space query.
#include "engine_test_support.h"
#include "update/session/host_hooks.h"

namespace {

constexpr uint64_t kMiB = uint64_t(1) << 20;

// Free bytes by the drive letter of the folder asked about.
uint64_t g_freeOnC = 0;
uint64_t g_freeElsewhere = 0;
std::vector<std::string> g_asked;

bool FakeFreeSpace(const char* directory, uint64_t* freeBytes) {
  g_asked.push_back(directory);
  const bool onC = (directory[0] == 'C' || directory[0] == 'c') && directory[1] == ':';
  *freeBytes = onC ? g_freeOnC : g_freeElsewhere;
  return true;
}

std::string VolumeOf(const std::string& path) {
  char root[MAX_PATH] = {};
  EXPECT_TRUE(GetVolumePathNameA(path.c_str(), root, sizeof root));
  return root;
}

std::string ShortText(const std::string& volume, int megabytes) {
  return "磁盘空间不足,还需要 " + std::to_string(megabytes) + " MB,请释放空间后重新运行更新程序! " +
         volume;
}

class FreeSpaceTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    g_asked.clear();
    SetFreeSpaceProvider(&FakeFreeSpace);
    big_ = Unique("big.dll");
    small_ = Unique("small.dll");
    ASSERT_TRUE(WriteWholeFile(gameDir_ + "\\" + big_, "old contents"));
    // Two MiB and a bit: on an empty disk that holds both folders, the
    // largest entry extracted, every file staged beside its target (the
    // large one and the five bytes of the small one), and the margin.
    UseUpdater(BuildUpdater(64, {{small_, "small"}, {big_, Pattern(2 * kMiB, 6)}}));
  }
  void TearDown() override {
    SetFreeSpaceProvider(nullptr);
    EngineTest::TearDown();
  }

  // Refused with `text`, shown once and logged once, nothing written.
  void ExpectRefused(const std::string& text) {
    const int logged = LogCount(text);
    bool versionOk = true, spaceOk = true;
    EXPECT_EQ(0, g_UpdateSession.ApplyPatch(versionOk, spaceOk));
    EXPECT_TRUE(versionOk);
    EXPECT_FALSE(spaceOk);
    EXPECT_EQ(std::vector<std::string>{text}, warnings_);
    EXPECT_EQ(logged + 1, LogCount(text));
    EXPECT_TRUE(progress_.empty());
    EXPECT_FALSE(DirectoryExists(RunFolder()));
    EXPECT_EQ("old contents", ReadWholeFile(gameDir_ + "\\" + big_));
    EXPECT_FALSE(FileExists(gameDir_ + "\\" + small_));
  }
  void ExpectRuns() {
    bool versionOk = true, spaceOk = true;
    EXPECT_EQ(1, g_UpdateSession.ApplyPatch(versionOk, spaceOk))
        << (warnings_.empty() ? "" : warnings_[0]);
    EXPECT_TRUE(spaceOk);
    EXPECT_EQ(Pattern(2 * kMiB, 6), ReadWholeFile(gameDir_ + "\\" + big_));
  }

  std::string big_, small_;
};

TEST_F(FreeSpaceTest, OneVolumeForBothFoldersNeedsTheirSum) {
  const std::string volume = VolumeOf(gameDir_);
  ASSERT_EQ(volume, VolumeOf(TempDir())) << "the engine tests keep both on one drive";
  const uint64_t needed = 2 * (2 * kMiB) + 5 + kMiB;
  g_freeElsewhere = g_freeOnC = 0;
  ExpectRefused(ShortText(volume, 6));
  warnings_.clear();
  g_freeElsewhere = g_freeOnC = needed - 1;
  ExpectRefused(ShortText(volume, 1));
  EXPECT_EQ(2u, g_asked.size()) << "one volume is asked about once per run";
  g_freeElsewhere = g_freeOnC = needed;
  ExpectRuns();
}

TEST_F(FreeSpaceTest, EachVolumeIsCheckedForWhatIsWrittenThere) {
  // The temporary directory moved to drive C:, the game staying where it is.
  char wineTemp[MAX_PATH] = {};
  ASSERT_NE(0u, GetWindowsDirectoryA(wineTemp, MAX_PATH));
  const std::string tempOnC = std::string(wineTemp) + "\\temp\\" + testName_;
  ASSERT_EQ('C', VolumeOf(wineTemp)[0]);
  ASSERT_NE('C', VolumeOf(gameDir_)[0]) << "the game must lie on another drive";
  MakeDirectoryTree(tempOnC);
  const std::string previousTemp = TempDir();
  SetEnvironmentVariableA("TMP", tempOnC.c_str());
  SetEnvironmentVariableA("TEMP", tempOnC.c_str());

  // Every staged file and the margin on the game's drive: a whole megabyte
  // and five bytes short is two...
  g_freeOnC = 100 * kMiB;
  g_freeElsewhere = 2 * kMiB;
  ExpectRefused(ShortText(VolumeOf(gameDir_), 2));
  // ...and the largest extracted entry and the margin on the temporary one.
  warnings_.clear();
  g_freeOnC = 3 * kMiB - 10;
  g_freeElsewhere = 100 * kMiB;
  ExpectRefused(ShortText(VolumeOf(tempOnC), 1));
  warnings_.clear();
  g_freeOnC = 3 * kMiB;
  g_freeElsewhere = 3 * kMiB + 5;
  ExpectRuns();

  SetEnvironmentVariableA("TMP", previousTemp.c_str());
  SetEnvironmentVariableA("TEMP", previousTemp.c_str());
  RemoveTree(tempOnC);
}

TEST_F(FreeSpaceTest, DamagedPayloadIsReportedBeforeTheSpace) {
  g_freeElsewhere = g_freeOnC = 0;
  Bytes file = BuildUpdater(64, {{small_, "small"}});
  ASSERT_TRUE(AddDigestRecord(file));
  file[64 + PATCH_ENTRY_HEADER_SIZE] ^= 0x01;
  UseUpdater(file);
  bool versionOk = true, spaceOk = true;
  EXPECT_EQ(0, g_UpdateSession.ApplyPatch(versionOk, spaceOk));
  EXPECT_TRUE(spaceOk);
  ASSERT_EQ(1u, warnings_.size());
  EXPECT_EQ(0u, warnings_[0].find("错误的文件校验")) << warnings_[0];
  EXPECT_TRUE(g_asked.empty());
}

// A game archive of 4 GiB on a volume with 3 GiB free: counted in 64 bits,
// the run is refused before it writes anything, however far past 32 bits.
TEST_F(FreeSpaceTest, AFileOfSeveralGibibytesIsCountedWhole) {
  const uint64_t size = (uint64_t(4) << 30) + 5;
  EntryDescriptor archive =
      DescribeFile(EntryKind::PathFile, EntryCoding::Zstd, "x", "archive.pak");
  archive.decodedSize = size;  // never decoded: refused before
  UseUpdater(BuildUpdater(64, {DescribedFile("archive.pak", archive, "not decoded")}));
  g_freeElsewhere = g_freeOnC = uint64_t(3) << 30;
  const std::string volume = VolumeOf(gameDir_);
  const int logged = LogCount(ShortText(volume, 1026));
  bool versionOk = true, spaceOk = true;
  EXPECT_EQ(0, g_UpdateSession.ApplyPatch(versionOk, spaceOk));
  EXPECT_FALSE(spaceOk);
  EXPECT_EQ(std::vector<std::string>{ShortText(volume, 1026)}, warnings_)
      << "1 GiB, the margin and 5 bytes";
  EXPECT_EQ(logged + 1, LogCount(ShortText(volume, 1026)));
  EXPECT_FALSE(FileExists(gameDir_ + "\\archive.pak"));
}

}  // namespace
