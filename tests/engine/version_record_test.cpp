// The version record: attributes, keys kept, and the digest of the updater's
// own file.
#include <cstdio>

#include "engine_test_support.h"
#include "host_hooks.h"
#include "md5_hex.h"
#include "win32_handle.h"

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

}  // namespace
