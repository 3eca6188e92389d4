#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "mkpatch/commands/mkpatch.h"
#include "mkpatch/inspect/profile_string.h"
#include "mkpatch_fixture.h"
#include "payload_builder.h"
#include "pe_builder.h"
#include "update/format/payload.h"

using namespace mkpatch_test;

namespace {

const std::string kGbkName = "\xB8\xFC\xD0\xC2\\\xCA\xFD\xBE\xDD.dll";  // 更新\数据.dll

}  // namespace

TEST_F(MkpatchTest, BuildsTheExactLayoutAndReadsItBack) {
  WriteAll(P("stub.exe"), std::string(3000, 'S'));
  WriteAll(P("in/更新/数据.dll"), "dll bytes");
  WriteAll(P("in/b/z.txt"), "zz");
  WriteAll(P("in/a.txt"), "");
  WriteAll(P("game.tpk"), "package");
  ASSERT_EQ(Run(Build({P("in"), "--name", "=" + P("game.tpk")})), 0) << err_;

  std::string file = ReadAll(P("out.exe"));
  ASSERT_EQ(file.size(), 3000u + 4 * 84 + 9 + 2 + 0 + 7 + 136);
  EXPECT_EQ(file.substr(0, 3000), std::string(3000, 'S'));
  unsigned char trailerBytes[PATCH_TRAILER_SIZE];
  std::memcpy(trailerBytes, file.data() + file.size() - 136, 136);
  PatchTrailer trailer = DecodeTrailer(trailerBytes);
  EXPECT_EQ(trailer.magic, PATCH_TRAILER_MAGIC);
  EXPECT_EQ(trailer.firstEntryOffset, 3000u);
  EXPECT_EQ(trailer.entryCount, 4u);
  EXPECT_EQ(trailer.totalFileSize, file.size());
  EXPECT_STREQ(trailer.baseVersion, "1.4.1.33960");
  // Directory entries sorted by path, '\' between parts, names in GBK.
  EXPECT_EQ(std::string(file.data() + 3000), "a.txt");
  EXPECT_EQ(std::string(file.data() + 3000 + 84), "b\\z.txt");
  EXPECT_EQ(std::string(file.data() + 3000 + 84 * 2 + 2), kGbkName);
  EXPECT_EQ(file.substr(3000 + 84 * 3 + 2, 9), "dll bytes");
  EXPECT_EQ(file[3000 + 84 * 3 + 11], '\0');  // the unnamed package

  ASSERT_EQ(Run({"verify", P("out.exe")}), 0) << out_;
  ASSERT_EQ(Run({"list", P("out.exe")}), 0);
  EXPECT_NE(out_.find("更新\\数据.dll"), std::string::npos) << out_;
  EXPECT_NE(out_.find("package  toplevel.tpk"), std::string::npos) << out_;

  ASSERT_EQ(Run({"extract", P("out.exe"), P("x")}), 0) << err_;
  EXPECT_EQ(ReadAll(P("x/更新/数据.dll")), "dll bytes");
  EXPECT_EQ(ReadAll(P("x/b/z.txt")), "zz");
  EXPECT_EQ(ReadAll(P("x/toplevel.tpk")), "package");
  EXPECT_TRUE(fs::exists(P("x/a.txt")));
}

TEST_F(MkpatchTest, ListJsonEscapesNamesAndNamesTheInstallKind) {
  WriteAll(P("f"), "12345");
  ASSERT_EQ(Run({"build", "-o", P("pkg.tpk"), "--base", "1.0.0.0", "--target", "1.0.0.1", "--name",
                 "sub\\Big.TPK=" + P("f"), "--name", "数据.dll=" + P("f")}),
            0)
      << err_;
  ASSERT_EQ(Run({"list", P("pkg.tpk"), "--json"}), 0);
  EXPECT_EQ(out_,
            "{\"baseVersion\":\"1.0.0.0\",\"targetVersion\":\"1.0.0.1\",\"firstEntryOffset\":0,"
            "\"entryCount\":2,\"totalFileSize\":314,\"signed\":false,\"payloadEnd\":314,"
            // md5sum of the file's first 178 bytes, the two entries
            "\"digest\":\"28708b917c2b4733f724d7d7aeb00932\",\"digestMatches\":true,\"entries\":["
            "{\"name\":\"sub\\\\Big.TPK\",\"size\":5,\"offset\":84,\"install\":\"package\"},"
            "{\"name\":\"数据.dll\",\"size\":5,\"offset\":173,\"install\":\"file\"}]}\n");
}

TEST_F(MkpatchTest, EveryRefusalLeavesTheOldOutputAndNoTemporary) {
  WriteAll(P("stub.exe"), "MZ stub");
  WriteAll(P("a.dll"), "a");
  WriteAll(P("out.exe"), "old output");
  std::string chinese40;
  for (int i = 0; i < 40; ++i) chinese40 += "数";  // 80 bytes in GBK, 120 in UTF-8
  std::string chinese39 = chinese40.substr(3);
  WriteAll(P("carrier.exe"), "");  // becomes a stub that carries a payload
  ASSERT_EQ(Run({"build", "-o", P("carrier.exe"), "--stub", P("stub.exe"), "--base", "1.0.0.0",
                 "--target", "1.0.0.0", P("a.dll")}),
            0);

  const std::vector<std::vector<std::string>> refused = {
      Build({"--name", chinese40 + "=" + P("a.dll")}),
      Build({"--name", "..\\a.dll=" + P("a.dll")}),
      Build({"--name", "CON.txt=" + P("a.dll")}),
      Build({"--name", "c:a.dll=" + P("a.dll")}),
      Build({"--name", "A.DLL=" + P("a.dll"), P("a.dll")}),  // case-insensitive
      Build({"--name", "=" + P("a.dll"), "--name", "TopLevel.tpk=" + P("a.dll")}),
      Build({"--name", "d=" + P("a.dll"), "--name", "D/x=" + P("a.dll")}),  // file vs directory
      Build({P("missing.dll")}),
      Build({P("a.dll")}, "1.4.1", "1.4.1.5"),
      Build({P("a.dll")}, "1.4.1.x", "1.4.1.5"),
      Build({P("a.dll")}, "1.4.1.34243", "1.4.1.34242"),
      Build({P("a.dll")}, "4.0.0.0", "5.0.0.0"),  // 5.x wraps below 4.x in the updater
      {"build", "-o", P("out.exe"), "--stub", P("carrier.exe"), "--base", "1.0.0.0", "--target",
       "1.0.0.0", P("a.dll")},
  };
  for (const auto& args : refused) {
    EXPECT_EQ(Run(args), 1) << args[args.size() - 1];
    EXPECT_FALSE(err_.empty());
    EXPECT_EQ(ReadAll(P("out.exe")), "old output");
    EXPECT_EQ(FilesInTop(),
              (std::vector<std::string>{"a.dll", "carrier.exe", "out.exe", "stub.exe"}));
  }
  // The longest name that fits is accepted.
  EXPECT_EQ(Run(Build({"--name", chinese39 + "=" + P("a.dll")})), 0) << err_;
}

// What is neither a file nor a directory (a pipe, a link that leads nowhere)
// cannot be read: build and diff name each and write nothing.
TEST_F(MkpatchTest, EntriesThatAreNeitherFilesNorDirectoriesAreRefused) {
  WriteAll(P("stub.exe"), "MZ stub");
  WriteAll(P("in/a.dll"), "a");
  ASSERT_EQ(mkfifo(P("in/pipe").c_str(), 0600), 0);
  fs::create_directories(P("in/sub"));
  fs::create_symlink(P("missing"), P("in/sub/nowhere"));
  EXPECT_EQ(Run(Build({P("in")})), 1);
  EXPECT_NE(err_.find("cannot read " + P("in/pipe") + ": neither a file nor a directory"),
            std::string::npos)
      << err_;
  EXPECT_NE(err_.find("cannot read " + P("in/sub/nowhere") + ": neither a file nor a directory"),
            std::string::npos)
      << err_;
  EXPECT_FALSE(fs::exists(P("out.exe")));

  // In a release tree a link is refused as a link; a pipe as above.
  WriteAll(P("old/a.dll"), "a");
  WriteAll(P("new/a.dll"), "b");
  fs::create_directories(P("new/data"));
  ASSERT_EQ(mkfifo(P("new/data/pipe").c_str(), 0600), 0);
  EXPECT_EQ(Run({"diff", "-o", P("out.exe"), "--stub", P("stub.exe"), "--base", "1.0.0.0",
                 "--target", "1.0.0.1", P("old"), P("new")}),
            1);
  EXPECT_NE(err_.find("cannot read " + P("new/data/pipe") + ": neither a file nor a directory"),
            std::string::npos)
      << err_;
  EXPECT_FALSE(fs::exists(P("out.exe")));
}

// The last step can fail after the whole output was written beside its
// place: a folder of the output's name cannot be replaced by a file.
TEST_F(MkpatchTest, FailedFinalRenameLeavesNoTemporary) {
  WriteAll(P("stub.exe"), "MZ stub");
  WriteAll(P("a.dll"), "a");
  WriteAll(P("out.exe/inside.txt"), "someone's folder");
  EXPECT_EQ(Run(Build({P("a.dll")})), 1);
  EXPECT_NE(err_.find("writing " + P("out.exe") + " failed"), std::string::npos) << err_;
  EXPECT_EQ(FilesInTop(), (std::vector<std::string>{"a.dll", "out.exe", "stub.exe"}));
  EXPECT_EQ(ReadAll(P("out.exe/inside.txt")), "someone's folder");
}

TEST_F(MkpatchTest, RefusesTwoGibibytesBeforeWriting) {
  WriteAll(P("stub.exe"), "MZ");
  { std::ofstream big(P("big.bin"), std::ios::binary); }
  fs::resize_file(P("big.bin"), (uint64_t(1) << 31) - 84 - 136 - 2);  // sparse; exactly 2 GiB
  EXPECT_EQ(Run(Build({P("big.bin")})), 1);
  EXPECT_NE(err_.find("2 GiB"), std::string::npos) << err_;
  EXPECT_FALSE(fs::exists(P("out.exe")));
}

TEST_F(MkpatchTest, ReplacePayloadKeepsOnlyTheProgram) {
  WriteAll(P("stub.exe"), "MZ program bytes");
  WriteAll(P("one.dll"), "1");
  WriteAll(P("two.dll"), "22");
  ASSERT_EQ(Run(Build({P("one.dll")})), 0);
  fs::rename(P("out.exe"), P("first.exe"));
  ASSERT_EQ(Run({"build", "-o", P("out.exe"), "--stub", P("first.exe"), "--replace-payload",
                 "--base", "1.0.0.0", "--target", "2.0.0.0", P("two.dll")}),
            0)
      << err_;
  std::string file = ReadAll(P("out.exe"));
  EXPECT_EQ(file.substr(0, 16), "MZ program bytes");
  EXPECT_EQ(file.size(), 16u + 84 + 2 + 136);
  EXPECT_EQ(Run({"list", P("out.exe")}), 0);
  EXPECT_EQ(out_.find("one.dll"), std::string::npos);
  EXPECT_NE(out_.find("two.dll"), std::string::npos);
}

TEST_F(MkpatchTest, SignaturesComeOffTheStubAndSignedUpdatersReadAsUnsigned) {
  const Bytes image = MakeImage(0x3FD);  // 3 bytes of padding before a table
  const Bytes signedImage = Sign(image);
  WriteAll(P("plain.exe"), std::string(image.begin(), image.end()));
  WriteAll(P("stub.exe"), std::string(signedImage.begin(), signedImage.end()));
  WriteAll(P("a.txt"), "abc");
  ASSERT_EQ(Run(Build({P("a.txt")})), 0) << err_;
  EXPECT_NE(err_.find("stub.exe carries a signature (certificate table of 40 bytes at byte 1024)"),
            std::string::npos)
      << err_;
  const std::string built = ReadAll(P("out.exe"));
  ASSERT_EQ(Run({"build", "-o", P("out.exe"), "--stub", P("plain.exe"), "--base", "1.4.1.33960",
                 "--target", "1.4.1.34242", P("a.txt")}),
            0);
  EXPECT_TRUE(err_.empty()) << err_;
  EXPECT_EQ(built, ReadAll(P("out.exe")));  // entry 4 cleared, table and padding gone

  const Bytes signedUpdater = Sign(Bytes(built.begin(), built.end()));
  WriteAll(P("signed.exe"), std::string(signedUpdater.begin(), signedUpdater.end()));
  ASSERT_EQ(Run({"list", P("signed.exe"), "--json"}), 0) << err_;
  EXPECT_NE(out_.find(",\"signed\":true,\"payloadEnd\":" + std::to_string(built.size()) + ","),
            std::string::npos)
      << out_;
  ASSERT_EQ(Run({"list", P("signed.exe")}), 0);
  EXPECT_NE(out_.find("signature:"), std::string::npos) << out_;
  EXPECT_EQ(Run({"verify", P("signed.exe")}), 0) << out_;
  WriteAll(P("game/Config/Client.ini"), "[Version]\nGameVersion=1.4.1.33960\n");
  EXPECT_EQ(Run({"check", P("signed.exe"), P("game")}), 0) << out_;
  ASSERT_EQ(Run({"extract", P("signed.exe"), P("x")}), 0) << err_;
  EXPECT_EQ(ReadAll(P("x/a.txt")), "abc");
  // A signed updater as the stub of the next patch: old payload and signature go.
  ASSERT_EQ(Run({"build", "-o", P("again.exe"), "--stub", P("signed.exe"), "--replace-payload",
                 "--base", "1.4.1.33960", "--target", "1.4.1.34242", P("a.txt")}),
            0)
      << err_;
  EXPECT_EQ(ReadAll(P("again.exe")), built);
  // So does a signed stub with a payload appended after it, which broke its signature.
  Bytes broken = signedImage;
  AppendEntry(broken, "b.txt", 1, "b");
  AppendTrailer(broken, MakeTrailer(static_cast<uint32_t>(signedImage.size()), 1,
                                    static_cast<uint32_t>(broken.size() + 136)));
  WriteAll(P("broken.exe"), std::string(broken.begin(), broken.end()));
  ASSERT_EQ(Run({"build", "-o", P("again.exe"), "--stub", P("broken.exe"), "--replace-payload",
                 "--base", "1.4.1.33960", "--target", "1.4.1.34242", P("a.txt")}),
            0)
      << err_;
  EXPECT_EQ(ReadAll(P("again.exe")), built);

  // Without a signature, any byte after the trailer is still refused.
  WriteAll(P("longer.exe"), built + std::string(1, '\0'));
  EXPECT_EQ(Run({"verify", P("longer.exe")}), 1);
  EXPECT_NE(out_.find("trailer's magic value is wrong"), std::string::npos) << out_;
}

TEST_F(MkpatchTest, VerifyListsEveryProblem) {
  std::vector<unsigned char> file = BuildUpdater(50, {{"a.dll", "abc"}, {"a.DLL", "x"}});
  // base above target, and four stray bytes before the trailer
  PatchTrailer trailer =
      MakeTrailer(50, 2, static_cast<uint32_t>(file.size() + 4), "2.0.0.0", "1.0.0.0");
  file.resize(file.size() - 136);
  file.insert(file.end(), 4, 0);
  AppendTrailer(file, trailer);
  WriteAll(P("bad.exe"), std::string(file.begin(), file.end()));
  EXPECT_EQ(Run({"verify", P("bad.exe")}), 1);
  EXPECT_NE(out_.find("duplicate entry name a.DLL"), std::string::npos) << out_;
  EXPECT_NE(out_.find("base version is above"), std::string::npos) << out_;
  EXPECT_NE(out_.find("4 stray bytes"), std::string::npos) << out_;
  EXPECT_NE(out_.find("3 problems"), std::string::npos) << out_;

  // One byte short of what the trailer claims, and an entry into the trailer.
  file = BuildUpdater(50, {{"a.dll", "abc"}});
  WriteLe32(&file[50 + 80], 4);
  WriteLe32(&file[file.size() - 136 + 12], static_cast<uint32_t>(file.size() + 1));
  WriteAll(P("cut.exe"), std::string(file.begin(), file.end()));
  EXPECT_EQ(Run({"verify", P("cut.exe")}), 1);
  EXPECT_NE(out_.find("trailer says the file has"), std::string::npos) << out_;
  EXPECT_NE(out_.find("reaches into the trailer at entry 1"), std::string::npos) << out_;
  EXPECT_EQ(Run({"list", P("cut.exe")}), 1);

  WriteAll(P("plain.exe"), std::string(500, 'M'));
  EXPECT_EQ(Run({"verify", P("plain.exe")}), 1);
  EXPECT_NE(out_.find("magic"), std::string::npos) << out_;
}

TEST_F(MkpatchTest, DigestCatchesDamagedEntriesAndIsRenewedOnReplace) {
  WriteAll(P("stub.exe"), "MZ program bytes");
  WriteAll(P("one.dll"), "first entry");
  WriteAll(P("two.dll"), "last entry");
  ASSERT_EQ(Run(Build({P("one.dll"), P("two.dll")})), 0) << err_;
  EXPECT_EQ(err_, "");
  const std::string sound = ReadAll(P("out.exe"));
  ASSERT_EQ(Run({"verify", P("out.exe")}), 0) << out_;
  EXPECT_NE(out_.find(" (matches)"), std::string::npos) << out_;
  ASSERT_EQ(Run({"list", P("out.exe")}), 0);
  EXPECT_NE(out_.find("digest:         md5 "), std::string::npos) << out_;

  // First entry's first data byte; last entry's last byte (just before the trailer).
  const size_t data = 16 + 84;
  for (size_t at : {data, sound.size() - 137}) {
    std::string damaged = sound;
    damaged[at] ^= 0x01;
    WriteAll(P("bad.exe"), damaged);
    EXPECT_EQ(Run({"verify", P("bad.exe")}), 1) << at;
    EXPECT_NE(out_.find("problem: payload digest does not match"), std::string::npos) << out_;
    EXPECT_EQ(Run({"list", P("bad.exe"), "--json"}), 1) << at;  // shown, but refused
    EXPECT_NE(out_.find("\"digestMatches\":false"), std::string::npos) << out_;
    EXPECT_NE(err_.find("payload digest does not match"), std::string::npos) << err_;
    WriteAll(P("game/Config/Client.ini"), "[Version]\nGameVersion=1.4.1.33960\n");
    EXPECT_EQ(Run({"check", P("bad.exe"), P("game"), "--json"}), 1) << at;
    EXPECT_NE(out_.find("\"applies\":false,\"reason\":\"payload digest does not match"),
              std::string::npos)
        << out_;
  }
  // The last entry's size field one lower: the table still fits (a stray
  // byte), the digest tells.
  std::string shorter = sound;
  const size_t lastSizeField = data + 11 + 80;
  ASSERT_EQ(shorter[lastSizeField], 10);
  shorter[lastSizeField] = 9;
  WriteAll(P("bad.exe"), shorter);
  EXPECT_EQ(Run({"verify", P("bad.exe")}), 1);
  EXPECT_NE(out_.find("problem: payload digest does not match"), std::string::npos) << out_;
  EXPECT_NE(out_.find("1 stray bytes"), std::string::npos) << out_;

  // --replace-payload hashes the new entries only.
  ASSERT_EQ(Run({"build", "-o", P("new.exe"), "--stub", P("out.exe"), "--replace-payload", "--base",
                 "1.0.0.0", "--target", "2.0.0.0", P("two.dll")}),
            0)
      << err_;
  ASSERT_EQ(Run({"verify", P("new.exe")}), 0) << out_;
  EXPECT_NE(out_.find(" (matches)"), std::string::npos) << out_;
}

TEST_F(MkpatchTest, LongTargetVersionBuildsWithoutDigestAndSaysSo) {
  WriteAll(P("stub.exe"), "MZ");
  WriteAll(P("a.dll"), "a");
  const std::string v59 = std::string(48, '0') + "1.4.1.34242";
  const std::string v34 = std::string(23, '0') + "1.4.1.34242";
  ASSERT_EQ(v59.size(), 59u);
  ASSERT_EQ(Run(Build({P("a.dll")}, "1.4.1.33960", v59)), 0) << err_;
  EXPECT_NE(err_.find("no room for the payload digest"), std::string::npos) << err_;
  ASSERT_EQ(Run({"verify", P("out.exe")}), 0) << out_;
  EXPECT_NE(out_.find("digest: none"), std::string::npos) << out_;
  ASSERT_EQ(Run({"list", P("out.exe"), "--json"}), 0);
  EXPECT_NE(out_.find("\"targetVersion\":\"" + v59 + "\""), std::string::npos) << out_;
  EXPECT_NE(out_.find("\"digest\":null"), std::string::npos) << out_;

  ASSERT_EQ(Run(Build({P("a.dll")}, "1.4.1.33960", v34)), 0) << err_;
  EXPECT_EQ(err_, "");
  ASSERT_EQ(Run({"verify", P("out.exe")}), 0) << out_;
  EXPECT_NE(out_.find(" (matches)"), std::string::npos) << out_;
  // 60 bytes used to be cut silently into another version.
  EXPECT_EQ(Run(Build({P("a.dll")}, "1.4.1.33960", "0" + v59)), 1);
  EXPECT_NE(err_.find("longer than 59 bytes"), std::string::npos) << err_;
}

TEST_F(MkpatchTest, ExtractRefusesUnsafeNamesAndLinksAndWritesNothing) {
  std::vector<unsigned char> file = BuildUpdater(10, {{"ok.dll", "1"}, {"..\\evil.dll", "2"}});
  WriteAll(P("evil.exe"), std::string(file.begin(), file.end()));
  EXPECT_EQ(Run({"extract", P("evil.exe"), P("x/y")}), 1);
  EXPECT_NE(err_.find("unsafe"), std::string::npos) << err_;
  EXPECT_FALSE(fs::exists(P("x")));

  // A link inside DIR on an entry's way, or at the entry itself, would take
  // it where the link leads.
  file = BuildUpdater(10, {{"a.dll", "1"}, {"data\\b.dll", "2"}});
  WriteAll(P("links.exe"), std::string(file.begin(), file.end()));
  fs::create_directories(P("outside"));
  fs::create_directories(P("out"));
  fs::create_directory_symlink(P("outside"), P("out/data"));
  EXPECT_EQ(Run({"extract", P("links.exe"), P("out")}), 1);
  EXPECT_NE(err_.find(P("out/data") + " is a symbolic link"), std::string::npos) << err_;
  EXPECT_TRUE(fs::is_empty(P("outside")));
  EXPECT_FALSE(fs::exists(P("out/a.dll")));
  fs::remove(P("out/data"));
  fs::create_symlink(P("outside/a.dll"), P("out/a.dll"));
  EXPECT_EQ(Run({"extract", P("links.exe"), P("out")}), 1);
  EXPECT_NE(err_.find(P("out/a.dll") + " is a symbolic link"), std::string::npos) << err_;
  EXPECT_TRUE(fs::is_empty(P("outside")));
  EXPECT_FALSE(fs::exists(P("out/data")));
  // Nor is a file where an entry needs a folder, whatever the case of its name.
  fs::remove(P("out/a.dll"));
  WriteAll(P("out/DATA"), "a file");
  EXPECT_EQ(Run({"extract", P("links.exe"), P("out")}), 1);
  EXPECT_NE(err_.find(P("out/DATA") + " is a file where data\\b.dll needs a folder"),
            std::string::npos)
      << err_;
  EXPECT_EQ(ReadAll(P("out/DATA")), "a file");
  EXPECT_FALSE(fs::exists(P("out/a.dll")));
  EXPECT_FALSE(fs::exists(P("out/data")));
}

TEST_F(MkpatchTest, UsageErrorsExitTwo) {
  EXPECT_EQ(Run({}), 2);
  EXPECT_EQ(Run({"frobnicate"}), 2);
  EXPECT_EQ(Run({"build", "--base", "1.0.0.0", "--target", "1.0.0.0"}), 2);  // no -o
  EXPECT_EQ(Run({"build", "-o", "x", "--base", "1.0.0.0"}), 2);
  EXPECT_EQ(Run({"build", "-o", "x", "--base", "1.0.0.0", "--target", "1.0.0.0", "--name", "a"}),
            2);
  EXPECT_EQ(Run({"extract", "only-one"}), 2);
  EXPECT_EQ(Run({"list", "a", "--bogus"}), 2);
  EXPECT_EQ(Run({"list", "--help"}), 0);
  EXPECT_NE(out_.find("usage:"), std::string::npos);
}

TEST_F(MkpatchTest, RealBinaryReportsExitCodes) {
  WriteAll(P("a.dll"), "a");
  std::string binary = MKPATCH_BINARY;
  std::string build = binary + " build -o '" + P("p.tpk") + "' --base 1.0.0.0 --target 1.0.0.1 '" +
                      P("a.dll") + "' >/dev/null";
  EXPECT_EQ(WEXITSTATUS(std::system(build.c_str())), 0);
  EXPECT_EQ(WEXITSTATUS(std::system((binary + " verify '" + P("p.tpk") + "' >/dev/null").c_str())),
            0);
  EXPECT_EQ(WEXITSTATUS(std::system((binary + " verify '" + P("a.dll") + "' >/dev/null").c_str())),
            1);
  EXPECT_EQ(WEXITSTATUS(std::system((binary + " bogus 2>/dev/null").c_str())), 2);
}

TEST_F(MkpatchTest, UpdaterRefusesPlainEntriesThatInstallOntoOneFile) {
  WriteAll(P("stub.exe"), "MZ stub");
  WriteAll(P("in/a/x.dat"), "1");
  WriteAll(P("in/b/X.DAT"), "2");
  WriteAll(P("in/c/pack.tpk"), "p");  // packages go to the launcher: no clash
  WriteAll(P("in/d/pack.tpk"), "p");
  EXPECT_EQ(Run(Build({P("in")})), 1);
  EXPECT_NE(err_.find("entries a\\x.dat and b\\X.DAT would both install as X.DAT"),
            std::string::npos)
      << err_;
  EXPECT_EQ(err_.find("pack.tpk"), std::string::npos) << err_;
  EXPECT_EQ(FilesInTop(), (std::vector<std::string>{"in", "stub.exe"}));
  // Greek and fullwidth letters have their case in code page 936 too.
  for (const char* other : {"in/b/X.DAT", "in/c/pack.tpk", "in/d/pack.tpk"}) fs::remove(P(other));
  WriteAll(P("in/b/ω.dat"), "2");
  WriteAll(P("in/e/Ω.dat"), "3");
  EXPECT_EQ(Run(Build({P("in")})), 1);
  EXPECT_NE(err_.find("entries b\\ω.dat and e\\Ω.dat would both install as Ω.dat"),
            std::string::npos)
      << err_;
  fs::remove(P("in/e/Ω.dat"));
  WriteAll(P("in/Ａ.dat"), "4");
  WriteAll(P("in/ａ.dat"), "5");
  EXPECT_EQ(Run(Build({P("in")})), 1);
  EXPECT_NE(err_.find("Ａ.dat"), std::string::npos) << err_;
  EXPECT_NE(err_.find("ａ.dat"), std::string::npos) << err_;
  EXPECT_EQ(FilesInTop(), (std::vector<std::string>{"in", "stub.exe"}));
  // GBK: the last part is found past the real separator only, and case
  // folding leaves trail bytes alone (乤 is 81 61, 丄 is 81 41, 乗 is 81 5C).
  WriteAll(P("gbk/更新/数据.dll"), "1");
  WriteAll(P("gbk/数据.dll"), "2");
  EXPECT_EQ(Run(Build({P("gbk")})), 1);
  EXPECT_NE(err_.find("entries 数据.dll and 更新\\数据.dll would both install as 数据.dll"),
            std::string::npos)
      << err_;
  fs::remove_all(P("gbk"));
  WriteAll(P("gbk/乤.dat"), "1");
  WriteAll(P("gbk/丄.dat"), "2");
  WriteAll(P("gbk/乗x.dat"), "3");
  WriteAll(P("gbk/x.dat"), "4");
  EXPECT_EQ(Run(Build({P("gbk")})), 0) << err_;
  EXPECT_EQ(err_, "");
}

TEST_F(MkpatchTest, WarnsWhereDirectoriesAreDroppedButStillBuilds) {
  WriteAll(P("stub.exe"), "MZ stub");
  WriteAll(P("in/data/y.dat"), "y");
  WriteAll(P("in/top.dat"), "t");
  WriteAll(P("in/sub/game.tpk"), "p");
  ASSERT_EQ(Run(Build({P("in")})), 0) << err_;
  EXPECT_EQ(err_,
            "mkpatch: warning: data\\y.dat installs as y.dat (the updater puts plain files into "
            "the game directory itself)\n");
  // A bare package keeps its directories: the launcher unpacks it.
  WriteAll(P("in/other/y.dat"), "z");
  ASSERT_EQ(Run({"build", "-o", P("p.tpk"), "--base", "1.0.0.0", "--target", "1.0.0.1", P("in")}),
            0)
      << err_;
  EXPECT_EQ(err_, "");
}

namespace {

// Every file below `root` with its bytes, to prove a dry run wrote nothing.
std::string Snapshot(const fs::path& root) {
  std::vector<std::string> lines;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    std::string bytes = item.is_regular_file() ? ReadAll(item.path()) : "/";
    lines.push_back(item.path().string() + "=" + bytes);
  }
  std::sort(lines.begin(), lines.end());
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  return all;
}

}  // namespace

TEST_F(MkpatchTest, CheckTellsWhatTheRunWouldDoAndWritesNothing) {
  // Windows finds Config/Client.ini, the launcher and the files whatever their case.
  WriteAll(P("game/config/CLIENT.INI"),
           "; installed by setup\r\n[Other]\r\nGameVersion=9.0.0.0\r\n"
           "[VERSION]\r\n  gameVERSION =  \"1.4.1.34000\"  \r\n");
  WriteAll(P("game/Launch/LAUNCH.EXE"), "MZ");
  WriteAll(P("game/SAME.DAT"), "same bytes");
  WriteAll(P("game/old.dll"), "old bytes!");  // same size, other bytes
  WriteAll(P("stub.exe"), "MZ stub");
  WriteAll(P("in/data/same.dat"), "same bytes");
  WriteAll(P("in/old.dll"), "new bytes!");
  WriteAll(P("in/数据.dll"), "fresh");
  WriteAll(P("in/pack.TPK"), "package");
  ASSERT_EQ(Run(Build({P("in")})), 0) << err_;
  const std::string before = Snapshot(dir_ / "game");

  ASSERT_EQ(Run({"check", P("out.exe"), P("game"), "--json"}), 0) << out_ << err_;
  EXPECT_EQ(out_,
            "{\"installedVersion\":\"1.4.1.34000\",\"baseVersion\":\"1.4.1.33960\","
            "\"targetVersion\":\"1.4.1.34242\",\"applies\":true,\"pendingCommit\":\"none\","
            // Every file staged (10 + 10 + 5 bytes), the largest entry
            // extracted (10), each with the MiB of margin.
            "\"spaceNeeded\":{\"game\":1048601,\"temp\":1048586},\"entries\":["
            "{\"name\":\"data\\\\same.dat\",\"install\":\"file\",\"destination\":\"same.dat\","
            "\"action\":\"same\"},"
            "{\"name\":\"old.dll\",\"install\":\"file\",\"destination\":\"old.dll\","
            "\"action\":\"replace\"},"
            "{\"name\":\"pack.TPK\",\"install\":\"package\",\"action\":\"package\"},"
            "{\"name\":\"数据.dll\",\"install\":\"file\",\"destination\":\"数据.dll\","
            "\"action\":\"new\"}]}\n");
  ASSERT_EQ(Run({"check", P("out.exe"), P("game")}), 0);
  EXPECT_NE(out_.find("applies:           yes\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("  same     data\\same.dat -> same.dat\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("  new      数据.dll -> 数据.dll\n"), std::string::npos) << out_;
  EXPECT_EQ(Snapshot(dir_ / "game"), before);

  // A payload from another tool with two entries onto one file: the second
  // is measured against the first, and the clash is named.
  std::vector<unsigned char> twice = BuildUpdater(50, {{"a\\x.dat", "1"}, {"b\\X.dat", "1"}});
  WriteAll(P("twice.exe"), std::string(twice.begin(), twice.end()));
  ASSERT_EQ(Run({"check", P("twice.exe"), P("game"), "--json"}), 0) << out_;
  EXPECT_NE(out_.find("\"destination\":\"x.dat\",\"action\":\"new\"},{\"name\":\"b\\\\X.dat\","
                      "\"install\":\"file\",\"destination\":\"X.dat\",\"action\":\"same\""),
            std::string::npos)
      << out_;
  EXPECT_NE(err_.find("would both install as X.dat"), std::string::npos) << err_;

  // An update cut short: another patch's journal refuses the run, and so
  // does one that cannot be read; a complete one only loses its backups.
  WriteAll(P("game/tpk_mvr_j_update.JOURNAL"),
           "journal 1\npatch 0123456789abcdef0123456789abcdef 1.4.1.40000\nstate rollback\n"
           "replace old.dll\n");
  ASSERT_EQ(Run({"check", P("out.exe"), P("game")}), 1) << out_;
  EXPECT_NE(out_.find("reason:            another patch's update (to 1.4.1.40000) was cut short "
                      "while taking its files back: run that patch's updater again first"),
            std::string::npos)
      << out_;
  WriteAll(P("game/tpk_mvr_j_update.JOURNAL"), "journal 2\n");
  ASSERT_EQ(Run({"check", P("out.exe"), P("game"), "--json"}), 1) << out_;
  EXPECT_NE(out_.find("\"pendingCommit\":\"damaged\""), std::string::npos) << out_;
  WriteAll(P("game/tpk_mvr_j_update.JOURNAL"),
           "journal 1\npatch 0123456789abcdef0123456789abcdef 1.4.1.40000\nstate done\n");
  ASSERT_EQ(Run({"check", P("out.exe"), P("game"), "--json"}), 0) << out_;
  EXPECT_NE(out_.find("\"pendingCommit\":\"finished\""), std::string::npos) << out_;
}

TEST_F(MkpatchTest, CheckSaysWhyTheUpdaterWouldNotApply) {
  WriteAll(P("stub.exe"), "MZ stub");
  WriteAll(P("x.dll"), "x");
  WriteAll(P("p.tpk"), "p");
  ASSERT_EQ(Run(Build({P("x.dll")})), 0) << err_;
  struct Case {
    std::string ini;  // empty: no Client.ini at all
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"", "no Config/Client.ini in"},
      {"[Version]\nMD5=abc\n", "has no GameVersion in its [Version] section"},
      {"[Version]\nGameVersion=1.4.1.33959\n",
       "installed version 1.4.1.33959 is outside the patch's range 1.4.1.33960 .. 1.4.1.34242"},
      {"[Version]\nGameVersion=1.4.2.0\n", "is outside"},  // 1.4.2.0 counts below 1.4.1.33960
      {"[Version]\nGameVersion=beta\n", "beta\\\" is not a version the updater can compare"},
  };
  for (const Case& c : cases) {
    fs::remove_all(P("game"));
    fs::create_directories(P("game"));
    if (!c.ini.empty()) WriteAll(P("game/Config/Client.ini"), c.ini);
    EXPECT_EQ(Run({"check", P("out.exe"), P("game"), "--json"}), 1) << c.ini;
    EXPECT_NE(out_.find("\"applies\":false,\"reason\":\""), std::string::npos) << out_;
    EXPECT_NE(out_.find(c.reason), std::string::npos) << out_;
  }
  EXPECT_EQ(Run({"check", P("out.exe"), P("game")}), 1);
  EXPECT_NE(out_.find("applies:           no\nreason:            installed version \"beta\""),
            std::string::npos)
      << out_;

  // The updater could not install: a directory where the file goes, a
  // read-only file, a package without the game's launcher.
  WriteAll(P("game/Config/Client.ini"), "[Version]\nGameVersion=1.4.1.34242\n");
  fs::create_directories(P("game/X.DLL"));
  EXPECT_EQ(Run({"check", P("out.exe"), P("game")}), 1);
  EXPECT_NE(out_.find("x.dll in the game directory is a directory"), std::string::npos) << out_;
  fs::remove(P("game/X.DLL"));
  WriteAll(P("game/x.dll"), "x");
  fs::permissions(P("game/x.dll"), fs::perms::owner_read);
  EXPECT_EQ(Run({"check", P("out.exe"), P("game")}), 1);
  EXPECT_NE(out_.find("read-only"), std::string::npos) << out_;
  ASSERT_EQ(Run(Build({P("p.tpk")})), 0) << err_;
  EXPECT_EQ(Run({"check", P("out.exe"), P("game")}), 1);
  EXPECT_NE(out_.find("launch/launch.exe is missing"), std::string::npos) << out_;

  // Structural faults come from the same inspection as verify.
  std::vector<unsigned char> file = BuildUpdater(50, {{"a.dll", "abc"}});
  WriteLe32(&file[50 + 80], 4);  // the entry reaches into the trailer
  WriteAll(P("bad.exe"), std::string(file.begin(), file.end()));
  EXPECT_EQ(Run({"check", P("bad.exe"), P("game"), "--json"}), 1);
  EXPECT_NE(out_.find("reaches into the trailer"), std::string::npos) << out_;
  EXPECT_NE(out_.find("\"entries\":[]"), std::string::npos) << out_;
  ASSERT_EQ(Run({"build", "-o", P("bare.tpk"), "--base", "1.4.1.0", "--target", "1.4.1.34242",
                 P("x.dll")}),
            0);
  EXPECT_EQ(Run({"check", P("bare.tpk"), P("game")}), 1);
  EXPECT_NE(out_.find("is a bare package"), std::string::npos) << out_;

  EXPECT_EQ(Run({"check", P("out.exe")}), 2);
  EXPECT_EQ(Run({"check", P("out.exe"), P("game"), P("more")}), 2);
  EXPECT_EQ(Run({"check", P("out.exe"), P("game"), "--verbose"}), 2);
  EXPECT_EQ(Run({"verify", P("out.exe"), "--json"}), 2);
}

TEST(ProfileString, ReadsAsTheProfileApiDoes) {
  auto read = [](const std::string& file, size_t buffer = 260) {
    std::string value;
    return ReadProfileString(file, "Version", "GameVersion", buffer, &value) ? value : "<none>";
  };
  EXPECT_EQ(read("[version]\r\nGAMEVERSION=1.2.3.4"), "1.2.3.4");  // no line end at the end
  EXPECT_EQ(read("\xEF\xBB\xBF[Version]\nGameVersion=1\n"), "1");  // UTF-8 byte order mark
  const char utf16[] =
      "\xFF\xFE[\0V\0e\0r\0s\0i\0o\0n\0]\0\n\0G\0a\0m\0e\0V\0e\0r\0s\0i\0o\0n\0=\0"
      "7";
  EXPECT_EQ(read(std::string(utf16, sizeof utf16)), "7");  // UTF-16, the last NUL its high byte
  EXPECT_EQ(read("[Version]\n;GameVersion=1\nGameVersion=2\nGameVersion=3\n"), "2");
  EXPECT_EQ(read("[Version]\nX=1\n[Version]\nGameVersion=2\n"), "<none>");  // first section only
  EXPECT_EQ(read("GameVersion=0\n[Versions]\nGameVersion=1\n"), "<none>");
  EXPECT_EQ(read("[ Version ]\nGameVersion=5\n"), "5");
  EXPECT_EQ(read("[Version]\nGameVersion\n"), "");
  EXPECT_EQ(read("[Version]\nGameVersion = 'quoted' \n"), "quoted");
  EXPECT_EQ(read("[Version]\nGameVersion=\"half\n"), "\"half");
  EXPECT_EQ(read("[Version]\nGameVersion=1.2 ; not a comment here\n"), "1.2 ; not a comment here");
  EXPECT_EQ(read("[Version]\nGameVersion=" + std::string(300, '9') + "\n").size(), 259u);
  EXPECT_EQ(read("[Version]\nGameVersion=123456\n", 4), "123");
}

TEST_F(MkpatchTest, SameInputsGiveTheSameBytesWhateverTheirTimesAndTheOutputFolder) {
  WriteAll(P("stub.exe"), std::string(3000, 'S'));
  WriteAll(P("in/b/z.txt"), "zz");
  WriteAll(P("in/a.txt"), "a");
  ASSERT_EQ(Run(Build({P("in")})), 0) << err_;
  std::string first = ReadAll(P("out.exe"));

  const auto longAgo = fs::file_time_type::clock::now() - std::chrono::hours(24 * 365 * 20);
  for (const char* input : {"stub.exe", "in/b/z.txt", "in/a.txt", "in/b", "in"}) {
    fs::last_write_time(P(input), longAgo);
  }
  std::vector<std::string> args = Build({P("in")});
  args[2] = P("elsewhere/deeper/other name.exe");
  fs::create_directories(P("elsewhere/deeper"));
  ASSERT_EQ(Run(args), 0) << err_;
  EXPECT_EQ(ReadAll(args[2]), first);
}
