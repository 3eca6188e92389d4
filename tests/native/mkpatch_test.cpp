#include <gtest/gtest.h>

#include <sys/wait.h>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "mkpatch.h"
#include "payload.h"
#include "payload_builder.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// A fresh directory per test, removed afterwards.
class MkpatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "mkpatch_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  int Run(std::vector<std::string> args) {
    std::ostringstream out, err;
    int code = RunMkpatch(args, out, err);
    out_ = out.str();
    err_ = err.str();
    return code;
  }
  std::string P(const std::string& relative) const { return (dir_ / relative).string(); }
  std::vector<std::string> Build(std::vector<std::string> inputs,
                                 const std::string& base = "1.4.1.33960",
                                 const std::string& target = "1.4.1.34242") {
    std::vector<std::string> args = {"build", "-o", P("out.exe"), "--stub", P("stub.exe"),
                                     "--base", base, "--target", target};
    args.insert(args.end(), inputs.begin(), inputs.end());
    return args;
  }
  // Only the files a test made itself: no output, no temporary left over.
  std::vector<std::string> FilesInTop() const {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(dir_)) names.push_back(item.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
  std::string out_, err_;
};

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
  ASSERT_EQ(Run({"build", "-o", P("pkg.tpk"), "--base", "1.0.0.0", "--target", "1.0.0.1",
                 "--name", "sub\\Big.TPK=" + P("f"), "--name", "数据.dll=" + P("f")}),
            0)
      << err_;
  ASSERT_EQ(Run({"list", P("pkg.tpk"), "--json"}), 0);
  EXPECT_EQ(out_,
            "{\"baseVersion\":\"1.0.0.0\",\"targetVersion\":\"1.0.0.1\",\"firstEntryOffset\":0,"
            "\"entryCount\":2,\"totalFileSize\":314,\"entries\":["
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
      Build({"--name", "A.DLL=" + P("a.dll"), P("a.dll")}),           // case-insensitive
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
    EXPECT_EQ(FilesInTop(), (std::vector<std::string>{"a.dll", "carrier.exe", "out.exe", "stub.exe"}));
  }
  // The longest name that fits is accepted.
  EXPECT_EQ(Run(Build({"--name", chinese39 + "=" + P("a.dll")})), 0) << err_;
}

TEST_F(MkpatchTest, RefusesTwoGibibytesBeforeWriting) {
  WriteAll(P("stub.exe"), "MZ");
  {
    std::ofstream big(P("big.bin"), std::ios::binary);
  }
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

TEST_F(MkpatchTest, VerifyListsEveryProblem) {
  std::vector<unsigned char> file = BuildUpdater(50, {{"a.dll", "abc"}, {"a.DLL", "x"}});
  // base above target, and four stray bytes before the trailer
  PatchTrailer trailer = MakeTrailer(50, 2, static_cast<uint32_t>(file.size() + 4), "2.0.0.0", "1.0.0.0");
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

TEST_F(MkpatchTest, ExtractRefusesUnsafeNamesAndWritesNothing) {
  std::vector<unsigned char> file = BuildUpdater(10, {{"ok.dll", "1"}, {"..\\evil.dll", "2"}});
  WriteAll(P("evil.exe"), std::string(file.begin(), file.end()));
  EXPECT_EQ(Run({"extract", P("evil.exe"), P("x/y")}), 1);
  EXPECT_NE(err_.find("unsafe"), std::string::npos) << err_;
  EXPECT_FALSE(fs::exists(P("x")));
}

TEST_F(MkpatchTest, UsageErrorsExitTwo) {
  EXPECT_EQ(Run({}), 2);
  EXPECT_EQ(Run({"frobnicate"}), 2);
  EXPECT_EQ(Run({"build", "--base", "1.0.0.0", "--target", "1.0.0.0"}), 2);  // no -o
  EXPECT_EQ(Run({"build", "-o", "x", "--base", "1.0.0.0"}), 2);
  EXPECT_EQ(Run({"build", "-o", "x", "--base", "1.0.0.0", "--target", "1.0.0.0", "--name", "a"}), 2);
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
  EXPECT_EQ(WEXITSTATUS(std::system((binary + " verify '" + P("p.tpk") + "' >/dev/null").c_str())), 0);
  EXPECT_EQ(WEXITSTATUS(std::system((binary + " verify '" + P("a.dll") + "' >/dev/null").c_str())), 1);
  EXPECT_EQ(WEXITSTATUS(std::system((binary + " bogus 2>/dev/null").c_str())), 2);
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
