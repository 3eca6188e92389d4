// mkpatch diff from several old builds: one patch that brings a game at any
// of them to the new build, its size against the patches it replaces, and
// list, verify, extract and check on it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "codec_test_support.h"
#include "json_value.h"
#include "md5_hex.h"
#include "mkpatch/plan/entry_order.h"
#include "mkpatch/plan/file_likeness.h"
#include "mkpatch_fixture.h"
#include "payload_builder.h"

using namespace mkpatch_test;

namespace {

// Every file below `root` by its relative path, without the updater's own record.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (!item.is_regular_file()) continue;
    const std::string relative = fs::relative(item.path(), root).string();
    if (relative != "Config/Client.ini") files[relative] = ReadAll(item.path());
  }
  return files;
}

const char* const kBuilds[] = {"b0", "b1", "b2"};
const char* const kVersions[] = {"1.0.0.0", "1.0.0.1", "1.0.0.2", "1.0.0.3"};

class BuildsTest : public MkpatchTest {
 protected:
  // Three old builds and a new one (new/): a file changed in every build,
  // one changed once, one changed only in the middle build and changed
  // back, one added in the middle build, one removed there, one that only
  // the middle build had, and a library renamed with its version.
  void MakeBuilds() {
    std::vector<Bytes> game = {ProgramLike(60000, 1)};
    for (uint32_t i = 0; i < 3; ++i) game.push_back(NextBuild(game.back(), 10 + i));
    const Bytes once = ProgramLike(20000, 2);
    const Bytes middle = ProgramLike(15000, 3);
    const Bytes added = ProgramLike(15000, 4);
    const Bytes core = ProgramLike(25000, 5);
    for (int b = 0; b < 4; ++b) {
      const std::string tree = b < 3 ? kBuilds[b] : "new";
      const auto put = [&](const std::string& path, const Bytes& bytes) {
        WriteAll(P(tree + "/" + path), Text(bytes));
      };
      put("bin/game.exe", game[b]);
      put("data/once.dat", b < 3 ? once : NextBuild(once, 20));
      put("data/middle.dat", b == 1 ? NextBuild(middle, 30) : middle);
      if (b >= 1) put("data/added.dat", b < 3 ? added : NextBuild(added, 40));
      if (b == 0) put("data/dropped.dat", ProgramLike(9000, 6));
      if (b == 1) put("data/temp.dat", ProgramLike(7000, 7));
      if (b < 2) put("lib/core-1.dll", core);
      if (b >= 2) put("lib/core-2.dll", b == 2 ? NextBuild(core, 50) : NextBuild(core, 51));
      WriteAll(P(tree + "/readme.txt"), "read me");
      WriteAll(P(tree + "/Config/Client.ini"),
               std::string("[Version]\nGameVersion=") + kVersions[b] + "\n");
    }
    WriteAll(P("stub.exe"), "MZ" + std::string(4000, 'S'));
  }

  std::vector<std::string> Diff(const std::string& out, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {
        "diff",    "-o",    P(out),   "--stub", P("stub.exe"), "--base", "1.0.0.0", "--target",
        "1.0.0.3", P("b0"), P("new"), "--from", P("b1"),       "--from", P("b2"),   "--json"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  // A game installed at `tree`.
  void Install(const std::string& tree) {
    fs::remove_all(P("game"));
    fs::copy(P(tree), P("game"), fs::copy_options::recursive);
    WriteAll(P("game/launch/launch.exe"), "MZ");
  }

  // Extracts `patch` over the game, makes the removals it lists where the
  // game holds those bytes, and returns the game's files as the updater
  // would leave them.
  std::map<std::string, std::string> Update(const std::string& patch) {
    EXPECT_EQ(Run({"extract", P(patch), P("game"), "--base-dir", P("game")}), 0) << err_;
    std::istringstream lines(out_);
    for (std::string line; std::getline(lines, line);) {
      if (line.compare(0, 7, "remove ") != 0) continue;
      std::string path = line.substr(7, line.find(" (when") - 7);
      for (char& c : path) c = c == '\\' ? '/' : c;
      const std::string md5 = line.substr(line.find("md5 ") + 4, 32);
      if (fs::exists(P("game/" + path)) && Md5Hex(ReadAll(P("game/" + path))) == md5) {
        fs::remove(P("game/" + path));
      }
    }
    std::map<std::string, std::string> files = Tree(P("game"));
    files.erase("launch/launch.exe");
    return files;
  }

  // check --json: whether it applies, and each file's way as its text says.
  bool Check(const std::string& patch, std::map<std::string, JsonValue>* files) {
    const int code = Run({"check", P(patch), P("game"), "--json"});
    JsonValue result;
    EXPECT_TRUE(JsonValue::Parse(out_, &result)) << out_;
    files->clear();
    for (const JsonValue& file : result["files"].Items()) (*files)[file["path"].AsString()] = file;
    EXPECT_EQ(code == 0, result["applies"].AsBool()) << out_;
    return code == 0;
  }
};

std::vector<std::string> Names(const JsonValue& array) {
  std::vector<std::string> names;
  for (const JsonValue& item : array.Items()) names.push_back(item.AsString());
  return names;
}

// The entries of the payload of an updater made from `stub`: its size less
// the program, the trailer and `packages`.
int64_t PayloadEntries(const JsonValue& report, int64_t packages = 0) {
  return report["totals"]["shipped"].AsInt() - packages;
}

}  // namespace

// With one old build the patch is the one mkpatch wrote before it knew of
// several: a file of every kind a diff of two trees ships, and the MD5 and
// size of the file the earlier mkpatch (commit 02aed17) made from these
// trees, with the new files compressed through LZMA2 since (55,340 bytes
// before, with zstd).
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
  EXPECT_EQ(patch.size(), 54593u);
  EXPECT_EQ(Md5Hex(patch), "8280d8543843d0c3af6fd0a980f13f1c");
}

// One patch from three builds: each build's players reach the new build,
// and the patch costs no more than the patches it replaces.
TEST_F(BuildsTest, EveryOldBuildUpdatesAndThePatchIsNoLargerThanThePatchesItReplaces) {
  MakeBuilds();
  ASSERT_EQ(Run(Diff("patch.exe")), 0) << err_;
  JsonValue report;
  ASSERT_TRUE(JsonValue::Parse(out_, &report)) << out_;
  EXPECT_EQ(Names(report["builds"]), (std::vector<std::string>{"1.0.0.0", "1.0.0.1", "1.0.0.2"}));
  EXPECT_EQ(report["unchanged"].AsInt(), 1);  // readme.txt

  // Per entry: what it is and which builds' files it applies to.
  std::vector<std::string> rows;
  for (const JsonValue& file : report["files"].Items()) {
    std::string row = file["action"].AsString() + " " + file["path"].AsString() + " [";
    for (const std::string& name : Names(file["builds"])) row += name + ";";
    row += "]";
    if (file["action"].AsString() == "step") row += " -> " + Names(file["stepTo"]).front();
    rows.push_back(row);
  }
  EXPECT_EQ(rows, (std::vector<std::string>{
                      "builds builds.txt [1.0.0.0;1.0.0.1;1.0.0.2;]",
                      "step bin\\game.exe [1.0.0.0;] -> 1.0.0.1",
                      "step bin\\game.exe [1.0.0.1;] -> 1.0.0.2",
                      "delta bin\\game.exe [1.0.0.2;]",
                      "whole data\\added.dat [1.0.0.0;1.0.0.1;1.0.0.2;]",
                      "delta data\\middle.dat [1.0.0.1;]",
                      "delta data\\once.dat [1.0.0.0;1.0.0.1;1.0.0.2;]",
                      "delta lib\\core-2.dll [1.0.0.2;]",
                      "delta lib\\core-2.dll [1.0.0.0;1.0.0.1;]",
                      "removed data\\dropped.dat [1.0.0.0;]",
                      "removed data\\temp.dat [1.0.0.1;]",
                      "removed lib\\core-1.dll [1.0.0.0;1.0.0.1;]",
                  }))
      << err_;
  EXPECT_NE(err_.find("lib\\core-2.dll (from lib\\core-1.dll)  [1.0.0.0, 1.0.0.1]"),
            std::string::npos)
      << err_;
  EXPECT_NE(err_.find("builds:    1.0.0.0 (base), 1.0.0.1, 1.0.0.2\n"), std::string::npos);
  // Each shipped file counts whole once, however many entries make it.
  const std::map<std::string, std::string> newFiles = Tree(P("new"));
  std::set<std::string> counted;
  int64_t wholeSize = 0;
  for (const JsonValue& file : report["files"].Items()) {
    const std::string action = file["action"].AsString();
    if (action == "builds" || action == "removed") continue;
    std::string path = file["path"].AsString();
    std::replace(path.begin(), path.end(), '\\', '/');
    if (counted.insert(path).second) wholeSize += newFiles.at(path).size();
  }
  EXPECT_EQ(report["totals"]["wholeSize"].AsInt(), wholeSize);
  EXPECT_NE(err_.find(" entries for " + std::to_string(wholeSize) + " bytes of whole files"),
            std::string::npos)
      << err_;
  ASSERT_EQ(Run({"verify", P("patch.exe")}), 0) << out_;

  // Each build updates, from the bytes it holds, to the new build.
  for (int b = 0; b < 3; ++b) {
    Install(kBuilds[b]);
    std::map<std::string, JsonValue> files;
    ASSERT_TRUE(Check("patch.exe", &files)) << kBuilds[b] << ": " << out_;
    EXPECT_EQ(files["bin\\game.exe"]["found"].AsString(), "build") << kBuilds[b];
    EXPECT_EQ(Names(files["bin\\game.exe"]["builds"]), std::vector<std::string>{kVersions[b]});
    // The chain from the base build: two steps and the last build's delta.
    EXPECT_EQ(files["bin\\game.exe"]["way"].Items().size(), static_cast<size_t>(3 - b));
    EXPECT_EQ(files["data\\middle.dat"]["found"].AsString(), b == 1 ? "build" : "new");
    EXPECT_EQ(files["data\\added.dat"]["found"].AsString(), b == 0 ? "missing" : "other");
    EXPECT_EQ(files["data\\added.dat"]["way"].Items().front()["kind"].AsString(), "whole");
    EXPECT_TRUE(Update("patch.exe") == Tree(P("new"))) << kBuilds[b];
  }
  // The build list writes no file: check gives it no destination, list null.
  Install("b0");
  EXPECT_EQ(Run({"check", P("patch.exe"), P("game"), "--json"}), 0) << out_;
  JsonValue checked;
  ASSERT_TRUE(JsonValue::Parse(out_, &checked)) << out_;
  const JsonValue& checkedList = checked["entries"].Items().front();
  EXPECT_EQ(checkedList["kind"].AsString(), "builds");
  EXPECT_EQ(checkedList["action"].AsString(), "skip");
  EXPECT_FALSE(checkedList.Has("destination")) << out_;
  ASSERT_EQ(Run({"list", P("patch.exe"), "--json"}), 0) << err_;
  JsonValue listed;
  ASSERT_TRUE(JsonValue::Parse(out_, &listed)) << out_;
  const JsonValue& listedList = listed["entries"].Items().front();
  EXPECT_EQ(listedList["kind"].AsString(), "builds");
  ASSERT_TRUE(listedList.Has("destination")) << out_;
  EXPECT_TRUE(listedList["destination"].IsNull()) << out_;

  // A game at the new build holds everything already.
  Install("new");
  EXPECT_TRUE(Update("patch.exe") == Tree(P("new")));
  EXPECT_NE(out_.find("same bin\\game.exe (the game holds its new bytes already)"),
            std::string::npos)
      << out_;

  // The patches it replaces, each made by mkpatch diff from two trees: their
  // entries are what the report says, and this patch's are no more than the
  // smaller of the two sums and 5 % (this one names builds and lists them).
  const std::vector<std::string> trees = {"b0", "b1", "b2", "new"};
  int64_t singleSteps = 0, direct = 0;
  for (size_t b = 0; b < 3; ++b) {
    for (size_t to : {b + 1, size_t(3)}) {
      ASSERT_EQ(Run({"diff", "-o", P("pair.exe"), "--stub", P("stub.exe"), "--base", kVersions[b],
                     "--target", kVersions[to], P(trees[b]), P(trees[to]), "--json"}),
                0)
          << err_;
      JsonValue pair;
      ASSERT_TRUE(JsonValue::Parse(out_, &pair)) << out_;
      if (to == b + 1) singleSteps += PayloadEntries(pair);
      if (to == 3) direct += PayloadEntries(pair);
      if (to == b + 1 && to == 3) break;
    }
  }
  const JsonValue& totals = report["totals"];
  EXPECT_EQ(totals["singleSteps"].AsInt(), singleSteps);
  EXPECT_EQ(totals["direct"].AsInt(), direct);
  EXPECT_EQ(totals["compared"].AsInt(), PayloadEntries(report));
  EXPECT_LE(PayloadEntries(report) * 100, std::min(singleSteps, direct) * 105)
      << "single steps " << singleSteps << ", direct " << direct;
}

// The most old builds a patch may name: every bit of the builds field is
// taken, and only what changed ships (a file all 32 hold at its new bytes
// is unchanged, one none of them holds is not).
TEST_F(BuildsTest, ThirtyTwoOldBuildsShipWhatChangedAndNothingElse) {
  const Bytes once = ProgramLike(20000, 90);
  const Bytes last = ProgramLike(20000, 91);
  std::vector<std::string> args = {"diff",        "-o",     P("patch.exe"), "--stub",
                                   P("stub.exe"), "--base", "1.0.0.0",      "--target",
                                   "1.0.0.32",    P("b0"),  P("new"),       "--json"};
  for (int b = 0; b <= 32; ++b) {
    const std::string tree = b < 32 ? "b" + std::to_string(b) : "new";
    WriteAll(P(tree + "/readme.txt"), "read me");
    WriteAll(P(tree + "/data/once.dat"), Text(b < 32 ? once : NextBuild(once, 92)));
    // Only the newest old build holds the new bytes already.
    WriteAll(P(tree + "/data/last.dat"), Text(b < 31 ? last : NextBuild(last, 93)));
    if (b < 32) {
      WriteAll(P(tree + "/Config/Client.ini"),
               "[Version]\nGameVersion=1.0.0." + std::to_string(b) + "\n");
    }
    if (b > 0 && b < 32) args.insert(args.end(), {"--from", P(tree)});
  }
  WriteAll(P("stub.exe"), "MZ" + std::string(4000, 'S'));
  ASSERT_EQ(Run(args), 0) << err_;
  JsonValue report;
  ASSERT_TRUE(JsonValue::Parse(out_, &report)) << out_;
  EXPECT_EQ(report["unchanged"].AsInt(), 1);  // readme.txt
  std::vector<std::string> rows;
  for (const JsonValue& file : report["files"].Items()) {
    rows.push_back(file["action"].AsString() + " " + file["path"].AsString() + " " +
                   std::to_string(file["builds"].Items().size()));
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"builds builds.txt 32", "delta data\\last.dat 31",
                                            "delta data\\once.dat 32"}))
      << err_;
  ASSERT_EQ(Run({"verify", P("patch.exe")}), 0) << out_;
  for (const char* build : {"b0", "b30", "b31"}) {
    Install(build);
    EXPECT_TRUE(Update("patch.exe") == Tree(P("new"))) << build;
  }
}

// A file the player changed holds none of the builds' bytes: without
// --repair the updater refuses (check says so, extract will not), with it
// the file is replaced by the whole new one.
TEST_F(BuildsTest, AChangedFileRefusesWithoutRepairAndIsReplacedWithIt) {
  MakeBuilds();
  ASSERT_EQ(Run(Diff("patch.exe")), 0) << err_;
  const int64_t withoutRepair = ReadAll(P("patch.exe")).size();
  Install("b1");
  WriteAll(P("game/data/once.dat"), "the player's own bytes");
  std::map<std::string, JsonValue> files;
  EXPECT_FALSE(Check("patch.exe", &files));
  EXPECT_NE(out_.find("exit code 5"), std::string::npos) << out_;
  EXPECT_EQ(files["data\\once.dat"]["found"].AsString(), "other");
  EXPECT_TRUE(files["data\\once.dat"]["way"].Items().empty());
  EXPECT_EQ(Run({"extract", P("patch.exe"), P("x"), "--base-dir", P("game")}), 1);
  EXPECT_NE(err_.find("once.dat is not the file the delta was made from (22 bytes"),
            std::string::npos)
      << err_;
  EXPECT_FALSE(fs::exists(P("x")));

  ASSERT_EQ(Run(Diff("repair.exe", {"--repair"})), 0) << err_;
  JsonValue report;
  ASSERT_TRUE(JsonValue::Parse(out_, &report)) << out_;
  const int64_t withRepair = ReadAll(P("repair.exe")).size();
  // Every changed file whole; what that cost beyond the deltas is told.
  for (const JsonValue& file : report["files"].Items()) {
    const std::string action = file["action"].AsString();
    EXPECT_TRUE(action == "whole" || action == "removed" || action == "builds") << action;
  }
  // game.exe, middle.dat, once.dat, core-2.dll; added.dat went whole anyway.
  EXPECT_EQ(report["totals"]["repairedFiles"].AsInt(), 4);
  EXPECT_EQ(report["totals"]["repairCost"].AsInt(), withRepair - withoutRepair);
  EXPECT_NE(err_.find("repair:    4 files whole that deltas would have brought from every build: " +
                      std::to_string(withRepair - withoutRepair) + " bytes more"),
            std::string::npos)
      << err_;
  EXPECT_TRUE(Check("repair.exe", &files)) << out_;
  EXPECT_EQ(files["data\\once.dat"]["way"].Items().front()["kind"].AsString(), "whole");
  EXPECT_TRUE(Update("repair.exe") == Tree(P("new")));
}

// A new file that is a near-copy of a file the old build keeps is made from
// it, and comes before that file's own entry, which replaces those bytes.
TEST_F(BuildsTest, ANewFileIsMadeFromTheMostAlikeKeptFileAndReadsItFirst) {
  const Bytes big = ProgramLike(300000, 60);
  Bytes copy = big;
  for (size_t i = 0; i < copy.size(); i += 50000) copy[i] ^= 0x11;
  WriteAll(P("old/a/big.bin"), Text(big));
  WriteAll(P("new/a/big.bin"), Text(NextBuild(big, 61)));
  WriteAll(P("new/z/copy.dat"), Text(copy));
  WriteAll(P("old/other.bin"), Text(ProgramLike(300000, 62)));
  WriteAll(P("new/other.bin"), Text(ProgramLike(300000, 62)));
  WriteAll(P("old/Config/Client.ini"), "[Version]\nGameVersion=1.0.0.0\n");
  WriteAll(P("stub.exe"), "MZ");
  ASSERT_EQ(Run({"diff", "-o", P("patch.exe"), "--stub", P("stub.exe"), "--base", "1.0.0.0",
                 "--target", "1.0.0.1", P("old"), P("new"), "--json"}),
            0)
      << err_;
  JsonValue report;
  ASSERT_TRUE(JsonValue::Parse(out_, &report)) << out_;
  const std::vector<JsonValue>& files = report["files"].Items();
  ASSERT_EQ(files.size(), 2u) << out_;
  EXPECT_EQ(files[0]["path"].AsString(), "z\\copy.dat");
  EXPECT_EQ(files[0]["action"].AsString(), "delta");
  EXPECT_LT(files[0]["shipped"].AsInt(), 1000);
  EXPECT_EQ(files[1]["path"].AsString(), "a\\big.bin");
  EXPECT_NE(err_.find("z\\copy.dat (from a\\big.bin)"), std::string::npos) << err_;
  Install("old");
  std::map<std::string, JsonValue> ways;
  EXPECT_TRUE(Check("patch.exe", &ways)) << out_;
  EXPECT_TRUE(Update("patch.exe") == Tree(P("new")));
}

// Two builds that each had one of two alike files under the other's name:
// each file would read the other's old bytes, which no order allows. One of
// them ships whole for that build, and every build still updates.
TEST_F(BuildsTest, FilesThatWouldReadEachOtherBreakTheCircleAndStillUpdate) {
  const Bytes x = ProgramLike(100000, 70);
  const Bytes y = NextBuild(x, 71);
  WriteAll(P("b0/x.bin"), Text(x));
  WriteAll(P("b1/y.bin"), Text(y));
  WriteAll(P("new/x.bin"), Text(NextBuild(x, 72)));
  WriteAll(P("new/y.bin"), Text(NextBuild(y, 73)));
  WriteAll(P("stub.exe"), "MZ");
  ASSERT_EQ(Run({"diff", "-o", P("patch.exe"), "--stub", P("stub.exe"), "--base", "1.0.0.0",
                 "--target", "1.0.0.1", P("b0"), P("new"), "--from", P("b1"), "--json"}),
            0)
      << err_;
  JsonValue report;
  ASSERT_TRUE(JsonValue::Parse(out_, &report)) << out_;
  std::multiset<std::string> rows;
  for (const JsonValue& file : report["files"].Items()) {
    rows.insert(file["action"].AsString() + (file["from"].IsNull() ? "" : " from other"));
  }
  // One file reads the other's old bytes; the other cannot read the first's
  // as well, so the build without it takes it whole, and so does every build
  // (a whole entry makes its deltas dead weight).
  EXPECT_EQ(rows, (std::multiset<std::string>{"builds", "delta", "delta from other", "whole"}))
      << err_;
  ASSERT_EQ(Run({"verify", P("patch.exe")}), 0) << out_;
  for (const char* build : {"b0", "b1"}) {
    Install(build);
    WriteAll(P("game/Config/Client.ini"), "[Version]\nGameVersion=1.0.0.0\n");
    std::map<std::string, JsonValue> ways;
    EXPECT_TRUE(Check("patch.exe", &ways)) << build << ": " << out_;
    EXPECT_TRUE(Update("patch.exe") == Tree(P("new"))) << build;
  }
}

TEST(ReadersFirst, PutsReadersBeforeWritersAndKeepsTheOrderOtherwise) {
  std::vector<ReadsBefore> dropped;
  EXPECT_EQ(ReadersFirst(4, {}, &dropped), (std::vector<size_t>{0, 1, 2, 3}));
  // 0 reads 3's old bytes, 1 reads 0's: 1, then 0, then 3.
  EXPECT_EQ(ReadersFirst(4, {{0, 3}, {1, 0}}, &dropped), (std::vector<size_t>{1, 0, 2, 3}));
  EXPECT_TRUE(dropped.empty());
  // 0 and 2 read each other; 1 reads 2. Once 1 is placed, the first of the
  // circle, 0, gives up the reading that waits on it (2 reads 0).
  const std::vector<size_t> order = ReadersFirst(3, {{0, 2}, {2, 0}, {1, 2}}, &dropped);
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0].reader, 2u);
  EXPECT_EQ(dropped[0].writer, 0u);
  EXPECT_EQ(order, (std::vector<size_t>{1, 0, 2}));
}

TEST(FileLikeness, NearCopiesResembleAndUnrelatedFilesDoNot) {
  const Bytes a = ProgramLike(200000, 80);
  Bytes nearCopy = a;
  for (size_t i = 0; i < nearCopy.size(); i += 4000) nearCopy[i] ^= 0x40;
  const Bytes unrelated = ProgramLike(200000, 81);
  const LikenessSketch sa = SketchBytes(a.data(), a.size());
  EXPECT_EQ(sa.size(), kSketchSize);
  EXPECT_TRUE(std::is_sorted(sa.begin(), sa.end()));
  EXPECT_EQ(Resemblance(sa, sa), kWholeResemblance);
  EXPECT_GT(Resemblance(sa, SketchBytes(nearCopy.data(), nearCopy.size())), kWholeResemblance / 2);
  EXPECT_LT(Resemblance(sa, SketchBytes(unrelated.data(), unrelated.size())),
            kWholeResemblance / 20);
  // A window is known by what it holds, wherever it lies: the same bytes
  // after an insertion resemble, and files alike only in long runs of zeros
  // at the same places do not.
  Bytes shifted(a.begin(), a.begin() + 1000);
  shifted.insert(shifted.end(), 777, 0x5A);
  shifted.insert(shifted.end(), a.begin() + 1000, a.end());
  EXPECT_GT(Resemblance(sa, SketchBytes(shifted.data(), shifted.size())), kWholeResemblance / 2);
  Bytes zeros(300000, 0), otherZeros(300000, 0);
  for (size_t i = 0; i < 8; ++i) zeros[5000 + i] = static_cast<unsigned char>(1 + i);
  for (size_t i = 0; i < 8; ++i) otherZeros[90000 + i] = static_cast<unsigned char>(9 + i);
  EXPECT_LT(Resemblance(SketchBytes(zeros.data(), zeros.size()),
                        SketchBytes(otherZeros.data(), otherZeros.size())),
            kWholeResemblance / 20);
  // Shorter than a window: nothing to compare.
  EXPECT_TRUE(SketchBytes(a.data(), 31).empty());
  EXPECT_EQ(Resemblance(sa, SketchBytes(a.data(), 31)), 0u);
}

// verify finds what the updater would refuse in the order of a patch's
// entries, which mkpatch diff never writes: a delta that reads a file an
// earlier entry writes, and a file whose entries do not stand together.
TEST_F(BuildsTest, VerifyFindsEntriesInAnOrderTheUpdaterRefuses) {
  const std::string a = "new a", c = "new c";
  EntryDescriptor readsA = DescribeFile(EntryKind::PathFile, EntryCoding::Delta, "new b", "b.bin");
  readsA.sourcePath = "a.bin";
  DescribeSource(readsA, "old a");
  EntryDescriptor deltaC = DescribeFile(EntryKind::PathFile, EntryCoding::Delta, c, "c.bin");
  DescribeSource(deltaC, "old c");
  std::vector<unsigned char> file = BuildUpdater(
      100, {DescribedFile("a.bin",
                          DescribeFile(EntryKind::PathFile, EntryCoding::Stored, a, "a.bin"), a),
            DescribedFile("b.bin", readsA, "x"),
            DescribedFile("c.bin",
                          DescribeFile(EntryKind::PathFile, EntryCoding::Stored, c, "c.bin"), c),
            DescribedFile(
                "d.bin", DescribeFile(EntryKind::PathFile, EntryCoding::Stored, "d", "d.bin"), "d"),
            DescribedFile("c.bin", deltaC, "x")});
  ASSERT_TRUE(AddDigestRecord(file));
  WriteAll(P("patch.exe"), std::string(file.begin(), file.end()));
  EXPECT_EQ(Run({"verify", P("patch.exe")}), 1);
  EXPECT_NE(out_.find("problem: entry 2 (b.bin) applies a delta to a.bin, which entry 1 (a.bin) "
                      "writes before it; the updater refuses the patch (exit code 1)"),
            std::string::npos)
      << out_;
  EXPECT_NE(out_.find("problem: entry 5 (c.bin) stands apart from the other entries of c.bin"),
            std::string::npos)
      << out_;
}
