// Described entries installed: every coding into its place, files already at
// their new bytes left alone, the progress a delta reports, and damaged
// stored bytes that never replace a file.
#include "described_run.h"
#include "pe_image_maker.h"
#include "update/codec/delta_format.h"
#include "update/codec/pe_layout.h"
#include "update/files/win32_handle.h"

namespace {

using DescribedInstall = DescribedRunTest;

// Similar builds of a program: a delta between them is far smaller than
// either, which compresses poorly on its own.
std::string NextBuild(std::string old) {
  old[100] ^= 0x01;
  old[old.size() / 2] ^= 0x10;
  old.insert(old.size() / 3, "inserted");
  return old;
}

FILETIME LastWrite(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  EXPECT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data));
  return data.ftLastWriteTime;
}

void SetLastWrite(const std::string& path, const FILETIME& time) {
  UniqueHandle file(
      CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file.IsValid());
  ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &time));
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

TEST_F(DescribedInstall, EveryCodingRoundTripsIntoSubfoldersAndAPackageReachesTheLauncher) {
  InstallLauncherStandIn();
  const std::string stored = Pattern(5000, 1), text = Compressible(30000, 2);
  const std::string oldExe = Pattern(20000, 3), newExe = NextBuild(oldExe);
  const std::string settings = Compressible(8000, 4), content = Compressible(20000, 5);
  Put("bin\\app.exe", oldExe);
  Put("data\\text.txt", "old text");
  const std::string package = Unique("game.tpk");
  UseUpdater(BuildUpdater(
      64, {PathFileEntry("data\\deep\\stored.bin", stored, EntryCoding::Stored),
           PathFileEntry("data\\text.txt", text, EntryCoding::Zstd),
           DeltaEntry("bin\\app.exe", oldExe, newExe),
           CompressedPlainFile("misc\\set.cfg", settings),
           CompressedPackage(package, BarePackage({{"pak\\content.dat", content}, {"top", "t"}})),
           {Unique("plain.dll"), "plain bytes"}}));
  RunChecks checks;
  ASSERT_EQ(1, Run(&checks)) << FirstWarning();
  EXPECT_TRUE(warnings_.empty());
  EXPECT_EQ(stored, Read("data\\deep\\stored.bin"));
  EXPECT_EQ(text, Read("data\\text.txt"));
  EXPECT_EQ(newExe, Read("bin\\app.exe"));
  EXPECT_EQ(settings, Read("set.cfg")) << "a plain file lands under its name's last part";
  EXPECT_FALSE(DirectoryExists(Game("misc")));
  EXPECT_EQ("plain bytes", Read(Unique("plain.dll")));
  // The launcher unpacked the decoded package: every byte of it arrived.
  const std::vector<Record> records = LaunchRecords();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(RunFolder() + "\\" + package, records[0].at("package"));
  EXPECT_EQ("payload", records[0].at("package_kind"));
  EXPECT_EQ("2", records[0].at("applied"));
  EXPECT_EQ(content, Read("pak\\content.dat"));
  EXPECT_EQ(std::vector<std::string>{}, ReplacementCopies());
  EXPECT_FALSE(DirectoryExists(RunFolder()));
}

// An image with over a MiB of code: the updater finds the installed file's
// references on two threads at once (its own and a worker it starts), both
// reading the file by handle, and rebuilds the new image from them.
TEST_F(DescribedInstall, ALargeImageIsRebuiltFromReferencesTwoThreadsFound) {
  ImageRecipe recipe;
  recipe.functions = 16000;
  const MadeImage old = MakeImage(recipe);
  recipe.insertedFunction = 9;
  recipe.grownFunction = 3;
  recipe.dataGrowth = 24;
  const MadeImage fresh = MakeImage(recipe);
  PeLayout layout;
  ASSERT_TRUE(ParsePeLayout(old.bytes.data(), PE_HEADERS_READ, old.bytes.size(), &layout));
  ASSERT_TRUE(layout.sections[0].code);
  ASSERT_GE(MappedSize(layout.sections[0]), ReferenceScanHelp().splitFrom);
  const std::string oldBytes(old.bytes.begin(), old.bytes.end());
  const std::string newBytes(fresh.bytes.begin(), fresh.bytes.end());
  const PayloadFile entry = DeltaEntry("bin\\engine.dll", oldBytes, newBytes);
  ASSERT_GT(entry.data.size(), 2u);
  EXPECT_EQ(entry.data[1] & 3, DELTA_FILTER_PE_REFERENCES) << "a delta of the references";
  Put("bin\\engine.dll", oldBytes);
  UseUpdater(BuildUpdater(64, {entry}));
  RunChecks checks;
  ASSERT_EQ(1, Run(&checks)) << FirstWarning();
  EXPECT_TRUE(warnings_.empty());
  EXPECT_TRUE(Read("bin\\engine.dll") == newBytes);
}

// A file the new build renamed: the delta reads the old name, and the
// removal that follows it takes the old file away only after the install.
TEST_F(DescribedInstall, ARenamedFileIsMadeFromItsOldName) {
  const std::string old = Pattern(20000, 14), fresh = NextBuild(old);
  Put("lib\\core-1.dll", old);
  UseUpdater(BuildUpdater(64, {RemovalEntry("lib\\core-1.dll", old),
                               DeltaEntry("lib\\core-2.dll", old, fresh, "lib\\core-1.dll")}));
  RunChecks checks;
  ASSERT_EQ(1, Run(&checks)) << FirstWarning();
  EXPECT_EQ(fresh, Read("lib\\core-2.dll"));
  EXPECT_EQ(std::vector<std::string>{"core-2.dll"}, ListFiles(Game("lib"), "*"));
  // Once more, as after a run stopped before its version record: the new
  // file is there and the old one gone, which is accepted.
  ASSERT_EQ(1, Run(&checks)) << FirstWarning();
  EXPECT_EQ(fresh, Read("lib\\core-2.dll"));
}

// An earlier run installed them and was stopped before the version record.
TEST_F(DescribedInstall, FilesAlreadyAtTheirNewBytesAreLeftAsTheyAre) {
  const std::string oldExe = Pattern(20000, 6), newExe = NextBuild(oldExe);
  const std::string text = Compressible(30000, 7);
  Put("bin\\app.exe", newExe);
  Put("text.txt", text);
  const FILETIME longAgo = {0xC89DC000, 0x01C07385};  // 2001-01-01
  SetLastWrite(Game("bin\\app.exe"), longAgo);
  SetLastWrite(Game("text.txt"), longAgo);
  UseUpdater(BuildUpdater(64, {DeltaEntry("bin\\app.exe", oldExe, newExe),
                               PathFileEntry("text.txt", text, EntryCoding::Zstd)}));
  RunChecks checks;
  ASSERT_EQ(1, Run(&checks)) << FirstWarning();
  EXPECT_EQ(newExe, Read("bin\\app.exe"));
  EXPECT_TRUE(SameTime(longAgo, LastWrite(Game("bin\\app.exe")))) << "rewritten";
  EXPECT_TRUE(SameTime(longAgo, LastWrite(Game("text.txt")))) << "rewritten";
  // Nothing to decode: no bytes are reported.
  const std::vector<ProgressEvent> expected = {{PG_EXTRACT_BEGIN, 1, 2}, {PG_EXTRACT_END, 1, 2},
                                               {PG_INSTALL_BEGIN, 1, 2}, {PG_INSTALL_END, 1, 2},
                                               {PG_EXTRACT_BEGIN, 2, 2}, {PG_EXTRACT_END, 2, 2},
                                               {PG_INSTALL_BEGIN, 2, 2}, {PG_INSTALL_END, 2, 2}};
  EXPECT_EQ(expected, progress_);
}

// As for a plain file: the game's installer or a disc may have left them so.
TEST_F(DescribedInstall, AReadOnlyOrHiddenTargetIsRefusedAndKept) {
  for (const DWORD attribute : {DWORD(FILE_ATTRIBUTE_READONLY), DWORD(FILE_ATTRIBUTE_HIDDEN)}) {
    Put("data\\kept.dat", "old contents");
    ASSERT_TRUE(SetFileAttributesA(Game("data\\kept.dat").c_str(), attribute));
    UseUpdater(BuildUpdater(64, {PathFileEntry("data\\kept.dat", "new", EntryCoding::Stored)}));
    warnings_.clear();
    RunChecks checks;
    EXPECT_EQ(0, Run(&checks));
    const std::string text =
        "写入文件错误 " + Game("data\\kept.dat") + " " + std::to_string(ERROR_ACCESS_DENIED);
    EXPECT_EQ(std::vector<std::string>{Shown(text)}, warnings_);
    SetFileAttributesA(Game("data\\kept.dat").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ("old contents", Read("data\\kept.dat"));
    EXPECT_EQ(std::vector<std::string>{}, ReplacementCopies());
  }
}

// The bar moves for a delta exactly as for a stored entry of its decoded size.
TEST_F(DescribedInstall, ADeltaReportsItsDecodedBytesAsAStoredEntryWould) {
  const std::string old = Pattern(2 * 4096 + 1, 8);
  std::string fresh = old;
  fresh[10] ^= 0x01;
  fresh[5000] ^= 0x02;
  Put("d.bin", old);
  UseUpdater(BuildUpdater(64, {DeltaEntry("d.bin", old, fresh), {Unique("p.bin"), fresh}}));
  RunChecks checks;
  ASSERT_EQ(1, Run(&checks)) << FirstWarning();
  EXPECT_EQ(fresh, Read("d.bin"));
  std::vector<ProgressEvent> expected;
  for (uint32_t ordinal = 1; ordinal <= 2; ++ordinal) {
    const std::vector<ProgressEvent> entry = {
        {PG_EXTRACT_BEGIN, ordinal, 2}, {PG_EXTRACT_BYTES, 4097, 8193},
        {PG_EXTRACT_BYTES, 1, 8193},    {PG_EXTRACT_BYTES, 0, 8193},
        {PG_EXTRACT_END, ordinal, 2},   {PG_INSTALL_BEGIN, ordinal, 2},
        {PG_INSTALL_END, ordinal, 2}};
    expected.insert(expected.end(), entry.begin(), entry.end());
  }
  EXPECT_EQ(expected, progress_);
}

// With the payload's digest, damage is refused before the first write.
TEST_F(DescribedInstall, DamageUnderTheDigestIsRefusedBeforeAnythingIsWritten) {
  const std::string old = Pattern(20000, 9), text = Compressible(30000, 10);
  Put("bin\\app.exe", old);
  Bytes file = BuildUpdater(64, {PathFileEntry("text.txt", text, EntryCoding::Zstd),
                                 DeltaEntry("bin\\app.exe", old, NextBuild(old))});
  ASSERT_TRUE(AddDigestRecord(file));
  const size_t region = file.size() - PATCH_TRAILER_SIZE - 64;
  for (size_t entry : {size_t(0), size_t(1)}) {
    Bytes damaged = file;
    damaged[StoredBytes(file, entry).begin + 5] ^= 0x20;
    UseUpdater(damaged);
    warnings_.clear();
    const auto before = TreeContents(gameDir_);
    RunChecks checks;
    EXPECT_EQ(0, Run(&checks)) << entry;
    const std::string text =
        "错误的文件校验:参数 " + std::to_string(region) + " " + std::to_string(region);
    EXPECT_EQ(std::vector<std::string>{text}, warnings_) << entry;
    EXPECT_TRUE(before == TreeContents(gameDir_)) << entry;
    EXPECT_TRUE(progress_.empty());
  }
}

// Damage the digest cannot see (the record taken over the damaged bytes):
// decoding or the file's own MD5 catches it, and the old file stays whole.
TEST_F(DescribedInstall, DamagePastTheDigestNeverReplacesAFile) {
  const std::string old = Pattern(20000, 11);
  const struct {
    const char* path;
    std::string installed;
    PayloadFile entry;
    bool decodes;  // stored bytes always decode: only the MD5 can tell
  } cases[] = {
      {"data\\text.txt", "old text",
       PathFileEntry("data\\text.txt", Compressible(30000, 12), EntryCoding::Zstd), false},
      {"bin\\app.exe", old, DeltaEntry("bin\\app.exe", old, NextBuild(old)), false},
      {"data\\raw.bin", "old raw",
       PathFileEntry("data\\raw.bin", Pattern(6000, 13), EntryCoding::Stored), true},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.path);
    Put(item.path, item.installed);
    Bytes file = BuildUpdater(64, {item.entry});
    const Stored stored = StoredBytes(file, 0);
    file[stored.begin + stored.size / 2] ^= 0x20;
    ASSERT_TRUE(AddDigestRecord(file));
    UseUpdater(file);
    warnings_.clear();
    RunChecks checks;
    EXPECT_EQ(0, Run(&checks));
    EXPECT_TRUE(checks.versionOk && checks.spaceOk && checks.sourcesOk) << "a failed run: exit 1";
    // The box names the file, and the log holds the whole line.
    const std::string target = Game(item.path);
    std::vector<std::string> texts = {"文件校验错误 " + target};
    for (int error = 1; error <= 7 && !item.decodes; ++error) {
      texts.push_back("解码文件错误 " + target + " " + std::to_string(error));
    }
    int named = 0;
    for (const std::string& text : texts) {
      if (warnings_ == std::vector<std::string>{Shown(text)} && LogCount(text) > 0) ++named;
    }
    EXPECT_EQ(1, named) << FirstWarning();
    EXPECT_EQ(item.installed, Read(item.path));
    EXPECT_EQ(std::vector<std::string>{}, ReplacementCopies());
  }
}

}  // namespace
