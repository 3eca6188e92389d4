// The version record: attributes, keys kept, and the digest of the updater's
// own file.
#include <cstdio>

#include "engine_test_support.h"
#include "md5_hex.h"
#include "update/files/win32_handle.h"
#include "update/session/host_hooks.h"

namespace {

class VersionRecordTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    clientIni_ = gameDir_ + "\\Config\\Client.ini";
    configIni_ = gameDir_ + "\\Config\\config.ini";
    g_UpdateSession.targetVersion = "1.4.1.34242";
  }
  std::string clientIni_;
  std::string configIni_;
};

TEST_F(VersionRecordTest, ReadOnlyFilesLoseOnlyThatAttributeAndOtherKeysStay) {
  EXPECT_TRUE(WriteWholeFile(
      clientIni_, "[Version]\r\nGameVersion=1.4.1.33960\r\nBuild=77\r\n[Other]\r\nKey=Value\r\n"));
  const std::string config = "[Game]\r\nLanguage=zh\r\n";
  EXPECT_TRUE(WriteWholeFile(configIni_, config));
  SetFileAttributesA(clientIni_.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesA(configIni_.c_str(), FILE_ATTRIBUTE_READONLY);
  UseUpdater(BuildUpdater(64, {}));

  EXPECT_TRUE(g_UpdateSession.WriteVersionRecord());

  DWORD clientAttributes = GetFileAttributesA(clientIni_.c_str());
  EXPECT_EQ(0u, clientAttributes & FILE_ATTRIBUTE_READONLY);
  EXPECT_NE(0u, clientAttributes & FILE_ATTRIBUTE_HIDDEN) << "other attributes stay";
  EXPECT_EQ(0u, GetFileAttributesA(configIni_.c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(config, ReadWholeFile(configIni_));

  EXPECT_EQ("1.4.1.34242", IniValue(clientIni_, "Version", "GameVersion"));
  EXPECT_EQ(Md5Hex(ReadWholeFile(updaterPath_)), IniValue(clientIni_, "Version", "MD5"));
  EXPECT_EQ("77", IniValue(clientIni_, "Version", "Build"));
  EXPECT_EQ("Value", IniValue(clientIni_, "Other", "Key"));
  SetFileAttributesA(clientIni_.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(VersionRecordTest, DigestCoversEveryByteOfTheUpdater) {
  Bytes file = BuildUpdater(64, {{"a.dll", Pattern(3000, 8)}});
  UseUpdater(file);
  g_UpdateSession.WriteVersionRecord();
  const std::string before = IniValue(clientIni_, "Version", "MD5");
  EXPECT_EQ(Md5Hex(std::string(file.begin(), file.end())), before);

  file[file.size() - PATCH_TRAILER_SIZE - 1] ^= 1;  // last payload byte
  UseUpdater(file);
  g_UpdateSession.WriteVersionRecord();
  EXPECT_NE(before, IniValue(clientIni_, "Version", "MD5"));
  EXPECT_EQ(Md5Hex(std::string(file.begin(), file.end())), IniValue(clientIni_, "Version", "MD5"));
}

TEST_F(VersionRecordTest, DigestOfTheRealProgramFileMatchesAnIndependentDigest) {
  SetOwnPathProvider(nullptr);  // the test program itself, as the module path names it
  g_UpdateSession.WriteVersionRecord();
  const std::string expected = ReadWholeFile(WorkDir() + "\\engine_tests.md5");
  ASSERT_EQ(32u, expected.size()) << "written by CMake after linking";
  EXPECT_EQ(expected, IniValue(clientIni_, "Version", "MD5"));
}

TEST_F(VersionRecordTest, UnopenableOwnFileStillWritesTheVersion) {
  EXPECT_TRUE(WriteWholeFile(clientIni_, "[Version]\r\nGameVersion=1.0.0.0\r\nMD5=earlier\r\n"));
  // updaterPath_ was never written: the own file cannot be opened, and a
  // record without the digest is reported as not written.
  EXPECT_FALSE(g_UpdateSession.WriteVersionRecord());
  EXPECT_EQ("1.4.1.34242", IniValue(clientIni_, "Version", "GameVersion"));
  EXPECT_EQ("earlier", IniValue(clientIni_, "Version", "MD5"));

  SetOwnPathProvider([](char*, uint32_t) -> uint32_t { return 0; });
  g_UpdateSession.targetVersion = "1.4.1.40000";
  g_UpdateSession.WriteVersionRecord();
  EXPECT_EQ("1.4.1.40000", IniValue(clientIni_, "Version", "GameVersion"));
  EXPECT_EQ("earlier", IniValue(clientIni_, "Version", "MD5"));
}

TEST_F(VersionRecordTest, UnwritableRecordIsReportedButNotShown) {
  UseUpdater(BuildUpdater(64, {}));
  {
    // Another program holds the file open for reading only.
    UniqueHandle held(CreateFileA(clientIni_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.IsValid());
    EXPECT_FALSE(g_UpdateSession.WriteVersionRecord());
  }
  EXPECT_NE("1.4.1.34242", IniValue(clientIni_, "Version", "GameVersion"));

  RemoveTree(gameDir_ + "\\Config");
  EXPECT_FALSE(g_UpdateSession.WriteVersionRecord());
  EXPECT_FALSE(FileExists(clientIni_));
  EXPECT_TRUE(warnings_.empty());
}

// Opened for reading by nobody else: a second read of the updater (fopen)
// fails while this is held, so a record with the right digest proves the
// run's own read served.
UniqueHandle HoldExclusively(const std::string& path) {
  return UniqueHandle(
      CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

// The run reads the updater once for both digests; the record takes the
// whole file's from that read, with the payload digest record and without.
TEST_F(VersionRecordTest, TheRunsOwnReadGivesTheRecordedDigest) {
  for (bool withRecord : {true, false}) {
    SCOPED_TRACE(withRecord ? "with a payload digest record" : "without one");
    Bytes file = BuildUpdater(64, {{Unique("a.dll"), Pattern(70000, withRecord ? 3 : 4)}});
    if (withRecord) {
      ASSERT_TRUE(AddDigestRecord(file));
    }
    UseUpdater(file);
    bool versionOk = true;
    ASSERT_EQ(1, Apply(&versionOk));
    UniqueHandle held = HoldExclusively(updaterPath_);
    ASSERT_TRUE(held.IsValid());
    ASSERT_TRUE(ReadWholeFile(updaterPath_).empty()) << "the hold must keep readers out";

    EXPECT_TRUE(g_UpdateSession.WriteVersionRecord());
    EXPECT_EQ(Md5Hex(std::string(file.begin(), file.end())),
              IniValue(clientIni_, "Version", "MD5"));
    // Used up: a second record has to read the file, and cannot.
    EXPECT_FALSE(g_UpdateSession.WriteVersionRecord());
  }
}

// A file put in the updater's place after the run (a rename and a new file,
// which Windows and Wine allow for a running program), or one written to
// since, is read again: the record is the MD5 of the file the path names.
TEST_F(VersionRecordTest, AnotherOrChangedFileAfterTheRunIsReadAgain) {
  const Bytes ran = BuildUpdater(64, {{Unique("a.dll"), Pattern(3000, 5)}});
  Bytes other = ran;
  other[10] ^= 1;  // the same size, other bytes
  bool versionOk = true;

  UseUpdater(ran);
  ASSERT_EQ(1, Apply(&versionOk));
  const std::string replacement = updaterPath_ + ".new";
  ASSERT_TRUE(WriteWholeFile(replacement, std::string(other.begin(), other.end())));
  ASSERT_TRUE(MoveFileExA(replacement.c_str(), updaterPath_.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_TRUE(g_UpdateSession.WriteVersionRecord());
  EXPECT_EQ(Md5Hex(std::string(other.begin(), other.end())),
            IniValue(clientIni_, "Version", "MD5"));

  UseUpdater(ran);
  ASSERT_EQ(1, Apply(&versionOk));
  Bytes grown = ran;
  grown.push_back(0);  // written in place: the same file, another size
  ASSERT_TRUE(WriteWholeFile(updaterPath_, std::string(grown.begin(), grown.end())));
  EXPECT_TRUE(g_UpdateSession.WriteVersionRecord());
  EXPECT_EQ(Md5Hex(std::string(grown.begin(), grown.end())),
            IniValue(clientIni_, "Version", "MD5"));
}

}  // namespace
