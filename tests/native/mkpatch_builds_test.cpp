// mkpatch diff from several old builds: one patch that brings a game at any
// of them to the new build, its size against the patches it replaces, and
// list, verify, extract and check on it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec_test_support.h"
#include "mkpatch_fixture.h"
#include "update/base/md5.h"

using namespace mkpatch_test;

namespace {

std::string Md5Hex(const std::string& bytes) {
  MD5 digest;
  digest.update(reinterpret_cast<const unsigned char*>(bytes.data()),
                static_cast<uint32_t>(bytes.size()));
  digest.finalize();
  return digest.hex_digest();
}

class BuildsTest : public MkpatchTest {};

}  // namespace

// With one old build the patch is the one mkpatch wrote before it knew of
// several: a file of every kind a diff of two trees ships, and the MD5 and
// size of the file the earlier mkpatch (commit 02aed17) made from these
// trees.
TEST_F(BuildsTest, OneOldBuildWritesTheBytesItAlwaysWrote) {
  const Bytes game = ProgramLike(300000, 1);
  WriteAll(P("old/bin/Game.exe"), Text(game));
  WriteAll(P("new/bin/Game.exe"), Text(NextBuild(game, 2)));
  WriteAll(P("old/data/random.bin"), Noise(20000, 3));
  WriteAll(P("new/data/random.bin"), Noise(20000, 4));
  std::string lines;
  for (int i = 0; i < 2000; ++i) lines += "line " + std::to_string(i * 7919 % 1000) + "\n";
  WriteAll(P("old/data/text.txt"), lines);
  WriteAll(P("new/data/text.txt"), lines.substr(0, 5000) + "edited\n" + lines.substr(5000));
  WriteAll(P("old/data/shrinks.dat"), Text(ProgramLike(5000, 5)));
  WriteAll(P("new/data/shrinks.dat"), "");
  WriteAll(P("new/data/new.map"), Text(ProgramLike(30000, 9)));
  WriteAll(P("new/data/empty.new"), "");
  const Bytes core = ProgramLike(80000, 31);
  WriteAll(P("old/lib/core-8.15.dll"), Text(core));
  WriteAll(P("new/lib/core-8.16.dll"), Text(NextBuild(core, 34)));
  const Bytes tool = ProgramLike(60000, 21);
  WriteAll(P("old/bin/tool.dll"), Text(tool));
  WriteAll(P("new/lib/Tool.dll"), Text(NextBuild(tool, 22)));
  const std::string archive = Noise(30000, 23);
  WriteAll(P("old/data1.pak"), archive);
  WriteAll(P("new/data/first.pak"), archive);
  WriteAll(P("old/bin/old.dll"), Text(ProgramLike(7000, 11)));
  for (const char* tree : {"old", "new"}) {
    WriteAll(P(std::string(tree) + "/readme.txt"), "read me");
  }
  WriteAll(P("old/Config/Client.ini"), "[Version]\nGameVersion=1.4.1.33960\n");
  WriteAll(P("patch.tpk"), Repeated("package contents ", 500));
  WriteAll(P("stub.exe"), "MZ" + std::string(4000, 'S'));
  ASSERT_EQ(Run({"diff", "-o", P("patch.exe"), "--stub", P("stub.exe"), "--base", "1.4.1.33960",
                 "--target", "1.4.1.34242", P("old"), P("new"), P("patch.tpk")}),
            0)
      << err_;
  const std::string patch = ReadAll(P("patch.exe"));
  EXPECT_EQ(patch.size(), 55340u);
  EXPECT_EQ(Md5Hex(patch), "10ed78487c5a18ab1bf5be992c6b2785");
}
