// mkpatch diff on generated release trees: what it ships, what the JSON
// report says, the round trip through extract, and what it refuses.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "codec_test_support.h"
#include "json_value.h"
#include "mkpatch_fixture.h"
#include "update/format/entry_name.h"
#include "update/format/entry_naming.h"

using namespace mkpatch_test;

namespace {

// Every file below `root` by its relative path folded to lower case, as
// Windows would find it, without the updater's own record.
std::map<std::string, std::string> FoldedTree(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (!item.is_regular_file()) continue;
    std::string relative = fs::relative(item.path(), root).string();
    for (char& c : relative) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (relative != "config/client.ini") files[relative] = ReadAll(item.path());
  }
  return files;
}

class DiffTest : public MkpatchTest {
 protected:
  // Two builds of a small game with a file for every way a file can change.
  void MakeReleases() {
    const Bytes game = ProgramLike(300000, 1);
    WriteAll(P("old/bin/Game.exe"), Text(game));
    WriteAll(P("new/bin/Game.exe"), Text(NextBuild(game, 2)));
    const Bytes engine = ProgramLike(40000, 3);
    Bytes grown = NextBuild(engine, 4);
    const Bytes more = ProgramLike(60000, 5);
    grown.insert(grown.end(), more.begin(), more.end());
    WriteAll(P("old/bin/engine.dll"), Text(engine));
    WriteAll(P("new/bin/engine.dll"), Text(grown));  // grows
    WriteAll(P("old/data/grows.txt"), "short\n");
    std::string lines;
    for (int i = 0; i < 3000; ++i) lines += "line " + std::to_string(i % 7) + "\n";
    WriteAll(P("new/data/grows.txt"), lines);
    WriteAll(P("old/data/shrinks.dat"), Text(ProgramLike(5000, 6)));
    WriteAll(P("new/data/shrinks.dat"), "");
    WriteAll(P("old/data/random.bin"), Noise(20000, 7));
    WriteAll(P("new/data/random.bin"), Noise(20000, 8));
    WriteAll(P("new/data/maps/新地图.map"), Text(ProgramLike(30000, 9)));
    WriteAll(P("new/data/empty.new"), "");
    for (const char* tree : {"old", "new"}) {
      WriteAll(P(std::string(tree) + "/readme.txt"), "read me");
      WriteAll(P(std::string(tree) + "/data/same.bin"), Text(ProgramLike(10000, 10)));
      WriteAll(P(std::string(tree) + "/data/zero.dat"), "");
    }
    // Windows keeps a file whose name changed case only: unchanged, or
    // changed under the new spelling.
    WriteAll(P("old/Sounds/Click.WAV"), "click");
    WriteAll(P("new/sounds/click.wav"), "click");
    WriteAll(P("old/Text/Intro.TXT"), "hello");
    WriteAll(P("new/text/intro.txt"), "hello, world");
    WriteAll(P("old/bin/old.dll"), Text(ProgramLike(7000, 11)));
    WriteAll(P("old/data/旧的/gone.txt"), "gone");
    WriteAll(P("old/Config/Client.ini"), "[Version]\nGameVersion=1.4.1.33960\n");
    WriteAll(P("new/config/CLIENT.INI"), "[Version]\nGameVersion=1.4.1.34242\n");
    std::string package;
    for (int i = 0; i < 500; ++i) package += "package contents ";
    WriteAll(P("patch.tpk"), package);
    WriteAll(P("stub.exe"), "MZ" + std::string(4000, 'S'));
  }

  // diff of old/ and new/ alone into patch.exe; with `report`, its JSON
  // report read there. The exit code.
  int DiffOldToNew(JsonValue* report = nullptr) {
    std::vector<std::string> args = {"diff",        "-o",     P("patch.exe"), "--stub",
                                     P("stub.exe"), "--base", "1.0.0.0",      "--target",
                                     "1.0.0.1",     P("old"), P("new")};
    if (report != nullptr) args.push_back("--json");
    const int code = Run(args);
    if (code == 0 && report != nullptr) {
      EXPECT_TRUE(JsonValue::Parse(out_, report)) << out_;
    }
    return code;
  }

  std::vector<std::string> Diff(const std::string& output, bool json = true) {
    std::vector<std::string> args = {"diff",        "-o",     output,        "--stub",
                                     P("stub.exe"), "--base", "1.4.1.33960", "--target",
                                     "1.4.1.34242", P("old"), P("new"),      P("patch.tpk")};
    if (json) args.push_back("--json");
    return args;
  }
};

}  // namespace

TEST_F(DiffTest, ShipsWhatChangedAndExtractRebuildsTheNewTree) {
  MakeReleases();
  ASSERT_EQ(Run(Diff(P("patch.exe"))), 0) << err_;
  const std::string patch = ReadAll(P("patch.exe"));
  // The summary for people, and the updater's own record left out.
  EXPECT_NE(err_.find("unchanged: 4 files"), std::string::npos) << err_;
  EXPECT_NE(err_.find("config\\CLIENT.INI in NEW_DIR"), std::string::npos) << err_;
  EXPECT_NE(err_.find("Config\\Client.ini in OLD_DIR"), std::string::npos) << err_;
  EXPECT_NE(err_.find("\ndelta    delta        300000"), std::string::npos) << err_;
  JsonValue report;
  ASSERT_TRUE(JsonValue::Parse(out_, &report)) << out_;
  EXPECT_EQ(report["output"].AsString(), P("patch.exe"));
  EXPECT_EQ(report["baseVersion"].AsString(), "1.4.1.33960");
  EXPECT_EQ(report["targetVersion"].AsString(), "1.4.1.34242");
  EXPECT_EQ(report["unchanged"].AsInt(), 4);  // readme, same.bin, zero.dat, click.wav

  // Tree files by path, then the package, then the removals by path.
  const std::vector<std::string> order = {
      "bin\\Game.exe",     "bin\\engine.dll",        "data\\empty.new",
      "data\\grows.txt",   "data\\maps\\新地图.map", "data\\random.bin",
      "data\\shrinks.dat", "text\\intro.txt",        "patch.tpk",
      "bin\\old.dll",      "data\\旧的\\gone.txt"};
  const std::vector<JsonValue>& files = report["files"].Items();
  ASSERT_EQ(files.size(), order.size()) << out_;
  std::map<std::string, JsonValue> byPath;
  int64_t shipped = 0, stored = 0, wholeSize = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    const JsonValue& file = files[i];
    EXPECT_EQ(file["path"].AsString(), order[i]);
    EXPECT_EQ(file.Keys(), (std::vector<std::string>{"path", "action", "coding", "deltaWay",
                                                     "oldSize", "newSize", "stored", "shipped"}));
    // How a delta is made, said of deltas only.
    EXPECT_EQ(file["deltaWay"].IsNull(),
              file["coding"].IsNull() || file["coding"].AsString() != "delta")
        << file["path"].AsString();
    byPath[file["path"].AsString()] = file;
    shipped += file["shipped"].AsInt();
    stored += file["stored"].AsInt();
    if (!file["newSize"].IsNull()) wholeSize += file["newSize"].AsInt();
  }
  EXPECT_EQ(byPath["bin\\Game.exe"]["action"].AsString(), "delta");
  EXPECT_EQ(byPath["bin\\Game.exe"]["coding"].AsString(), "delta");
  // Not an image: its bytes, not its references.
  const std::string gameWay = byPath["bin\\Game.exe"]["deltaWay"].AsString();
  EXPECT_TRUE(gameWay == "copies" || gameWay == "old file as prefix" ||
              gameWay == "old file as prefix, x86 branches")
      << gameWay;
  EXPECT_LT(byPath["bin\\Game.exe"]["stored"].AsInt(), 300000 / 10);
  EXPECT_EQ(byPath["data\\random.bin"]["action"].AsString(), "whole");
  EXPECT_EQ(byPath["data\\random.bin"]["coding"].AsString(), "stored");
  EXPECT_EQ(byPath["data\\random.bin"]["stored"].AsInt(), 20000);
  EXPECT_EQ(byPath["data\\shrinks.dat"]["action"].AsString(), "whole");
  EXPECT_EQ(byPath["data\\shrinks.dat"]["newSize"].AsInt(), 0);
  EXPECT_EQ(byPath["data\\shrinks.dat"]["stored"].AsInt(), 0);
  EXPECT_EQ(byPath["data\\maps\\新地图.map"]["action"].AsString(), "new");
  EXPECT_EQ(byPath["data\\maps\\新地图.map"]["coding"].AsString(), "lzma");
  EXPECT_TRUE(byPath["data\\maps\\新地图.map"]["oldSize"].IsNull());
  EXPECT_EQ(byPath["text\\intro.txt"]["oldSize"].AsInt(), 5);
  EXPECT_EQ(byPath["patch.tpk"]["action"].AsString(), "package");
  EXPECT_EQ(byPath["patch.tpk"]["coding"].AsString(), "zstd");
  EXPECT_EQ(byPath["bin\\old.dll"]["action"].AsString(), "removed");
  EXPECT_TRUE(byPath["bin\\old.dll"]["coding"].IsNull());
  EXPECT_TRUE(byPath["bin\\old.dll"]["newSize"].IsNull());
  EXPECT_EQ(byPath["bin\\old.dll"]["oldSize"].AsInt(), 7000);
  EXPECT_EQ(byPath["bin\\old.dll"]["stored"].AsInt(), 0);
  for (const char* grown : {"bin\\engine.dll", "data\\grows.txt"}) {
    const std::string action = byPath[grown]["action"].AsString();
    EXPECT_TRUE(action == "delta" || action == "whole") << grown << " " << action;
    EXPECT_LT(byPath[grown]["shipped"].AsInt(), byPath[grown]["newSize"].AsInt()) << grown;
  }

  // The numbers add up to the file.
  const JsonValue& totals = report["totals"];
  EXPECT_EQ(totals["entries"].AsInt(), static_cast<int64_t>(order.size()));
  EXPECT_EQ(totals["shipped"].AsInt(), shipped);
  EXPECT_EQ(totals["stored"].AsInt(), stored);
  EXPECT_EQ(totals["wholeSize"].AsInt(), wholeSize);
  EXPECT_EQ(totals["program"].AsInt(), 4002);
  EXPECT_EQ(totals["trailer"].AsInt(), 136);
  EXPECT_EQ(totals["patchSize"].AsInt(), static_cast<int64_t>(patch.size()));
  EXPECT_EQ(4002 + shipped + 136, static_cast<int64_t>(patch.size()));
  // ... and agree with what list reads back from it.
  ASSERT_EQ(Run({"list", P("patch.exe"), "--json"}), 0) << err_;
  JsonValue listed;
  ASSERT_TRUE(JsonValue::Parse(out_, &listed)) << out_;
  const std::vector<JsonValue>& entries = listed["entries"].Items();
  ASSERT_EQ(entries.size(), files.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i]["size"].AsInt() + 84, files[i]["shipped"].AsInt()) << order[i];
    EXPECT_EQ(entries[i]["storedSize"].AsInt(), files[i]["stored"].AsInt()) << order[i];
    if (!files[i]["deltaWay"].IsNull()) {
      EXPECT_EQ(entries[i]["deltaWay"].AsString(), files[i]["deltaWay"].AsString()) << order[i];
    } else if (entries[i].Has("deltaWay")) {
      EXPECT_TRUE(entries[i]["deltaWay"].IsNull()) << order[i];
    }
  }
  EXPECT_EQ(entries[0]["name"].AsString(), "Game.exe");
  EXPECT_EQ(entries[0]["destination"].AsString(), "bin\\Game.exe");
  EXPECT_EQ(entries[8]["install"].AsString(), "package");
  EXPECT_TRUE(entries[8]["destination"].IsNull());

  ASSERT_EQ(Run({"verify", P("patch.exe")}), 0) << out_;
  ASSERT_EQ(Run({"extract", P("patch.exe"), P("x"), "--base-dir", P("old")}), 0) << err_;
  EXPECT_NE(out_.find("remove bin\\old.dll (when it holds 7000 bytes, md5 "), std::string::npos)
      << out_;
  EXPECT_NE(out_.find("remove data\\旧的\\gone.txt (when it holds 4 bytes"), std::string::npos);
  EXPECT_EQ(ReadAll(P("x/patch.tpk")), ReadAll(P("patch.tpk")));
  fs::remove(P("x/patch.tpk"));
  std::set<std::string> extracted;
  for (const auto& item : fs::recursive_directory_iterator(P("x"))) {
    if (item.is_regular_file()) extracted.insert(fs::relative(item.path(), P("x")).string());
  }
  EXPECT_EQ(extracted,
            (std::set<std::string>{"bin/Game.exe", "bin/engine.dll", "data/empty.new",
                                   "data/grows.txt", "data/maps/新地图.map", "data/random.bin",
                                   "data/shrinks.dat", "text/intro.txt"}));
  // The old tree with the extracted files over it and the removals made is
  // the new tree, file for file.
  std::map<std::string, std::string> rebuilt = FoldedTree(P("old"));
  for (const auto& file : FoldedTree(P("x"))) rebuilt[file.first] = file.second;
  rebuilt.erase("bin/old.dll");
  rebuilt.erase("data/旧的/gone.txt");
  EXPECT_TRUE(rebuilt == FoldedTree(P("new")));
}

TEST_F(DiffTest, RealBuildsOfX86LibrariesShipAsSmallDeltasAndRoundTrip) {
  // The same libraries built twice by the cross compiler (for win32 and for
  // posix threads): real code that moved, as between two releases.
  const fs::path before = REAL_BUILD_OLD, after = REAL_BUILD_NEW;
  if (before.empty() || after.empty()) GTEST_SKIP() << "no MinGW runtime DLLs on this machine";
  for (const char* name : {"libatomic-1.dll", "libgcc_s_dw2-1.dll", "libobjc-4.dll"}) {
    fs::create_directories(P("old/bin"));
    fs::create_directories(P("new/bin"));
    fs::copy_file(before / name, P(std::string("old/bin/") + name));
    fs::copy_file(after / name, P(std::string("new/bin/") + name));
  }
  fs::copy_file(before / "libquadmath-0.dll", P("old/bin/libquadmath-0.dll"));
  fs::copy_file(before / "libquadmath-0.dll", P("new/bin/libquadmath-0.dll"));
  fs::create_directories(P("old/lib"));
  fs::create_directories(P("new/lib"));
  fs::copy_file(before / "libssp-0.dll", P("old/lib/libssp-0.dll"));
  fs::copy_file(after / "libgomp-1.dll", P("new/lib/libgomp-1.dll"));
  WriteAll(P("stub.exe"), "MZ" + std::string(4000, 'S'));

  JsonValue report;
  ASSERT_EQ(DiffOldToNew(&report), 0) << err_;
  std::map<std::string, std::string> actions;
  for (const JsonValue& file : report["files"].Items()) {
    actions[file["path"].AsString()] = file["action"].AsString();
    // The builds differ all over, yet a delta is a small part of the file:
    // bsdiff makes 5,119, 29,566 and 17,766 bytes of these three.
    if (file["action"].AsString() == "delta") {
      EXPECT_LT(file["stored"].AsInt() * 20, file["newSize"].AsInt()) << file["path"].AsString();
      EXPECT_EQ(file["deltaWay"].AsString(), "copies, image references") << file["path"].AsString();
    }
  }
  EXPECT_EQ(actions, (std::map<std::string, std::string>{{"bin\\libatomic-1.dll", "delta"},
                                                         {"bin\\libgcc_s_dw2-1.dll", "delta"},
                                                         {"bin\\libobjc-4.dll", "delta"},
                                                         {"lib\\libgomp-1.dll", "new"},
                                                         {"lib\\libssp-0.dll", "removed"}}));
  EXPECT_EQ(report["unchanged"].AsInt(), 1);
  // What list reads back from the entries says the same.
  ASSERT_EQ(Run({"list", P("patch.exe")}), 0) << err_;
  EXPECT_NE(out_.find("      file, delta (copies, image references), "), std::string::npos) << out_;

  ASSERT_EQ(Run({"extract", P("patch.exe"), P("x"), "--base-dir", P("old")}), 0) << err_;
  std::map<std::string, std::string> rebuilt = FoldedTree(P("old"));
  for (const auto& file : FoldedTree(P("x"))) rebuilt[file.first] = file.second;
  rebuilt.erase("lib/libssp-0.dll");
  EXPECT_TRUE(rebuilt == FoldedTree(P("new")));
}

TEST_F(DiffTest, SameInputsGiveTheSameBytesWhateverTheirTimesAndTheOutputFolder) {
  MakeReleases();
  ASSERT_EQ(Run(Diff(P("first.exe"))), 0) << err_;
  const std::string first = ReadAll(P("first.exe"));
  const std::string firstReport = out_;
  const auto longAgo = fs::file_time_type::clock::now() - std::chrono::hours(24 * 365 * 20);
  for (const auto& item : fs::recursive_directory_iterator(dir_)) {
    fs::last_write_time(item.path(), longAgo);
  }
  fs::create_directories(P("elsewhere/deeper"));
  ASSERT_EQ(Run(Diff(P("elsewhere/deeper/second name.exe"))), 0) << err_;
  EXPECT_TRUE(ReadAll(P("elsewhere/deeper/second name.exe")) == first);
  // The report differs in the output's name only.
  const std::string named = "\"output\":\"" + P("elsewhere/deeper/second name.exe") + "\"";
  std::string report = out_;
  report.replace(report.find(named), named.size(), "\"output\":\"" + P("first.exe") + "\"");
  EXPECT_EQ(report, firstReport);
}

TEST_F(DiffTest, RefusesTreesTheUpdaterCannotInstallAndWritesNothing) {
  struct Case {
    std::string label;
    std::vector<std::pair<std::string, std::string>> files;  // relative to dir_
    std::string message;
  };
  std::string longPath;
  for (int i = 0; i < 26; ++i) longPath += "directory/";  // 260 bytes with the name
  const std::vector<Case> cases = {
      {"two spellings of one file",
       {{"new/a.txt", "1"}, {"new/A.TXT", "2"}},
       "one file to Windows"},
      {"two spellings of one file in Greek letters",
       {{"new/Ω.dat", "1"}, {"new/ω.dat", "2"}},
       "one file to Windows"},
      {"two spellings of one file in fullwidth letters",
       {{"new/data/ＡＢ.dat", "1"}, {"new/data/ａｂ.dat", "2"}},
       "one file to Windows"},
      {"a file and a directory of one Cyrillic name",
       {{"new/Ж", "1"}, {"new/ж/y", "2"}},
       "holds the file Ж and the directory of ж\\y"},
      {"a file and a directory of one name",
       {{"new/x", "1"}, {"new/X/y", "2"}},
       "holds the file x and the directory of X\\y"},
      {"a device name", {{"new/data/con.txt", "1"}}, "reserved device name"},
      {"a colon", {{"new/a:b", "1"}}, "drive letter or stream name"},
      {"a trailing dot", {{"new/dir./a", "1"}}, "ends in a dot or blank"},
      {"a backslash in a name, which Windows takes for a separator",
       {{"new/data\\x.dat", "1"}, {"new/data/x.dat", "2"}},
       "path data\\x.dat holds \\ in a name, which Windows does not allow"},
      {"a name outside code page 936", {{"new/한.txt", "1"}}, "cannot be written in code page 936"},
      {"a path too long", {{"new/" + longPath + "a", "1"}}, "the limit is 259"},
      {"a removal with a bad name", {{"old/aux.dll", "1"}}, "reserved device name"},
      {"a directory where the old build has a file",
       {{"old/a", "1"}, {"new/A/b", "2"}},
       "A\\b in NEW_DIR needs a directory where OLD_DIR has the file a"},
      {"a file where the old build has a directory",
       {{"old/c/d", "1"}, {"new/c", "2"}},
       "c in NEW_DIR is a file where OLD_DIR has the directory of c\\d"},
  };
  for (const Case& c : cases) {
    fs::remove_all(P("old"));
    fs::remove_all(P("new"));
    fs::create_directories(P("old"));
    fs::create_directories(P("new"));
    WriteAll(P("stub.exe"), "MZ");
    WriteAll(P("patch.tpk"), "p");
    for (const auto& file : c.files) WriteAll(P(file.first), file.second);
    EXPECT_EQ(Run(Diff(P("out.exe"), false)), 1) << c.label;
    EXPECT_NE(err_.find(c.message), std::string::npos) << c.label << ": " << err_;
    EXPECT_EQ(FilesInTop(), (std::vector<std::string>{"new", "old", "patch.tpk", "stub.exe"}))
        << c.label;
  }

  // Links are never followed: a file link, and a directory link in the old tree.
  fs::remove_all(P("old"));
  fs::remove_all(P("new"));
  WriteAll(P("outside/secret.txt"), "secret");
  WriteAll(P("new/a.txt"), "a");
  fs::create_symlink(P("outside/secret.txt"), P("new/link.txt"));
  fs::create_directories(P("old"));
  fs::create_directory_symlink(P("outside"), P("old/dir"));
  EXPECT_EQ(Run(Diff(P("out.exe"), false)), 1);
  EXPECT_NE(err_.find("link.txt in NEW_DIR " + P("new") + " is a symbolic link"), std::string::npos)
      << err_;
  EXPECT_NE(err_.find("dir in OLD_DIR " + P("old") + " is a symbolic link"), std::string::npos)
      << err_;
  EXPECT_FALSE(fs::exists(P("out.exe")));
  fs::remove(P("new/link.txt"));
  fs::remove(P("old/dir"));

  // Packages are named by their files, which must be launcher packages.
  WriteAll(P("notes.txt"), "n");
  WriteAll(P("sub/PATCH.TPK"), "q");
  const std::vector<std::string> base = {"diff",        "-o",     P("out.exe"), "--stub",
                                         P("stub.exe"), "--base", "1.0.0.0",    "--target",
                                         "1.0.0.1",     P("old"), P("new")};
  std::vector<std::string> args = base;
  args.push_back(P("notes.txt"));
  EXPECT_EQ(Run(args), 1);
  EXPECT_NE(err_.find("notes.txt does not end in .tpk"), std::string::npos) << err_;
  args = base;
  args.insert(args.end(), {P("patch.tpk"), P("sub/PATCH.TPK")});
  EXPECT_EQ(Run(args), 1);
  EXPECT_NE(err_.find("duplicate entry name PATCH.TPK"), std::string::npos) << err_;
  args = base;
  args[args.size() - 1] = P("missing");
  EXPECT_EQ(Run(args), 1);
  EXPECT_NE(err_.find("NEW_DIR " + P("missing") + " is not a directory"), std::string::npos);
  EXPECT_FALSE(fs::exists(P("out.exe")));

  // Usage: the updater's stub and both trees are needed.
  EXPECT_EQ(Run({"diff", "-o", P("out.exe"), "--base", "1.0.0.0", "--target", "1.0.0.1", P("old"),
                 P("new")}),
            2);
  EXPECT_EQ(Run({"diff", "-o", P("out.exe"), "--stub", P("stub.exe"), "--base", "1.0.0.0",
                 "--target", "1.0.0.1", P("old")}),
            2);
  EXPECT_EQ(Run({"diff", "-o", P("out.exe"), "--stub", P("stub.exe"), "--target", "1.0.0.1",
                 P("old"), P("new")}),
            2);
}

// A stub that is a finished updater gives up its payload; the diff of two
// equal trees is an updater with nothing to do but its version.
TEST_F(DiffTest, ReplacesTheStubsPayloadAndShipsNothingForEqualTrees) {
  WriteAll(P("stub.exe"), "MZ program");
  WriteAll(P("a.dll"), "a");
  ASSERT_EQ(Run(Build({P("a.dll")})), 0) << err_;
  WriteAll(P("old/same.txt"), "same");
  WriteAll(P("new/same.txt"), "same");
  ASSERT_EQ(Run({"diff", "-o", P("patch.exe"), "--stub", P("out.exe"), "--base", "1.0.0.0",
                 "--target", "1.0.0.1", P("old"), P("new")}),
            0)
      << err_;
  EXPECT_NE(err_.find("carries a payload; it is replaced"), std::string::npos) << err_;
  EXPECT_EQ(ReadAll(P("patch.exe")).size(), 10u + 136);
  ASSERT_EQ(Run({"verify", P("patch.exe")}), 0) << out_;
  EXPECT_NE(out_.find("sound, 0 entries"), std::string::npos) << out_;
}

TEST(DescriptorEntryName, IsThePathsLastPartCutAtACharacterBoundary) {
  EXPECT_EQ(DescriptorEntryName("data\\maps\\a.map"), "a.map");
  EXPECT_EQ(DescriptorEntryName("top.dat"), "top.dat");
  // 乗 is 81 5C: its trail byte is no separator.
  EXPECT_EQ(DescriptorEntryName("a\\\x81\x5C"
                                "b.dat"),
            "\x81\x5C"
            "b.dat");
  std::string chinese;  // 数 is CA FD: 36 of them are 72 bytes
  for (int i = 0; i < 36; ++i) chinese += "\xCA\xFD";
  EXPECT_EQ(DescriptorEntryName("d\\" + chinese + ".dat"), chinese.substr(0, 70));
  const std::string odd = "x" + chinese;  // 73 bytes: the cut falls inside a character
  EXPECT_EQ(DescriptorEntryName(odd), odd.substr(0, 69));
  // A cut that ends in a dot or blank would be refused; they go.
  EXPECT_EQ(DescriptorEntryName(std::string(68, 'a') + ". " + std::string(10, 'b')),
            std::string(68, 'a'));
  EXPECT_EQ(DescriptorEntryName(std::string(70, '.') + "x"), "file");
  for (const std::string& path : {std::string(100, 'n'), "d\\" + chinese + ".dat", odd}) {
    const std::string name = DescriptorEntryName(path);
    EXPECT_LE(name.size(), 70u);
    EXPECT_EQ(EntryNameProblem(name.c_str(), name.size() + 1), nullptr) << name;
  }
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kUnderAddressSanitizer = true;
#else
constexpr bool kUnderAddressSanitizer = false;
#endif
#else
constexpr bool kUnderAddressSanitizer = false;
#endif

// Runs mkpatch diff of old/ and new/ with its address space limited to
// `kib`, stderr into err.txt; the exit status.
int DiffWithin(const std::function<std::string(const std::string&)>& P, int kib) {
  const std::string command = "ulimit -v " + std::to_string(kib) + "; " +
                              std::string(MKPATCH_BINARY) + " diff -o '" + P("out.exe") +
                              "' --stub '" + P("stub.exe") + "' --base 1.0.0.0 --target 1.0.0.1 '" +
                              P("old") + "' '" + P("new") + "' 2>'" + P("err.txt") + "'";
  const int status = std::system(("sh -c \"" + command + "\"").c_str());
  EXPECT_TRUE(WIFEXITED(status)) << "killed by a signal";
  return WEXITSTATUS(status);
}

// A sparse file of `size` zeros with `edits` written over it.
void WriteSparse(const std::string& path, uint64_t size,
                 const std::vector<std::pair<uint64_t, std::string>>& edits = {}) {
  { std::ofstream file(path, std::ios::binary); }
  fs::resize_file(path, size);
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  for (const auto& edit : edits) {
    file.seekp(static_cast<std::streamoff>(edit.first));
    file.write(edit.second.data(), static_cast<std::streamsize>(edit.second.size()));
  }
}

// mkpatch.exe is a 32-bit program: a file it cannot hold ends in a message.
// Files up to 256 MiB are held whole while they are diffed.
TEST_F(DiffTest, AFileTooLargeForMemoryEndsInAMessage) {
  if (kUnderAddressSanitizer) {
    GTEST_SKIP() << "the address sanitizer reserves more address space than the limit allows";
  }
  WriteAll(P("stub.exe"), "MZ");
  fs::create_directories(P("old"));
  fs::create_directories(P("new"));
  WriteSparse(P("old/big.bin"), uint64_t(200) << 20);
  WriteSparse(P("new/big.bin"), uint64_t(200) << 20, {{1000, "changed"}});
  EXPECT_EQ(DiffWithin([this](const std::string& name) { return P(name); }, 300000), 1);
  EXPECT_NE(ReadAll(P("err.txt")).find("big.bin is too large to encode in memory"),
            std::string::npos)
      << ReadAll(P("err.txt"));
  EXPECT_FALSE(fs::exists(P("out.exe")));
}

// Larger files are read as they are encoded: a changed file and a new one of
// more than 256 MiB each ship within a few hundred MiB of memory.
TEST_F(DiffTest, FilesAboveTheThresholdAreDiffedInBoundedMemory) {
  if (kUnderAddressSanitizer) {
    GTEST_SKIP() << "the address sanitizer reserves more address space than the limit allows";
  }
  WriteAll(P("stub.exe"), "MZ");
  fs::create_directories(P("old"));
  fs::create_directories(P("new"));
  const uint64_t size = (uint64_t(256) << 20) + 4096;
  WriteSparse(P("old/archive.pak"), size, {{5000, "old header"}, {size - 9, "old tail"}});
  WriteSparse(P("new/archive.pak"), size + 3,
              {{5000, "new header"}, {uint64_t(100) << 20, "scattered"}, {size - 6, "new tail"}});
  WriteSparse(P("new/added.pak"), size, {{123456, "content"}});
  EXPECT_EQ(DiffWithin([this](const std::string& name) { return P(name); }, 600000), 0)
      << ReadAll(P("err.txt"));
  const std::string report = ReadAll(P("err.txt"));
  EXPECT_NE(report.find("delta    delta"), std::string::npos) << report;
  EXPECT_NE(report.find("new      zstd"), std::string::npos) << report;
  EXPECT_LT(fs::file_size(P("out.exe")), uint64_t(1) << 20);
}

// Files past 2 and 4 GiB ship when their entries leave the updater under
// 2 GiB: a changed archive of more than 2 GiB as a small delta, a dropped one
// of more than 4 GiB as a removal that names its whole size.
TEST_F(DiffTest, FilesPastTwoAndFourGiBShipWhenTheirEntriesFit) {
  if (kUnderAddressSanitizer) GTEST_SKIP() << "reads 8 GiB, too slow under the address sanitizer";
  WriteAll(P("stub.exe"), "MZ");
  fs::create_directories(P("old"));
  fs::create_directories(P("new"));
  const uint64_t size = (uint64_t(2) << 30) + 4096;
  const uint64_t dropped = (uint64_t(4) << 30) + 4096;
  std::error_code error;
  WriteSparse(P("old/archive.pak"), size, {{5000, "old header"}, {size - 9, "old tail"}});
  WriteSparse(P("new/archive.pak"), size + 3, {{5000, "new header"}, {size - 6, "new tail"}});
  WriteSparse(P("old/gone.pak"), dropped, {{dropped - 4, "end"}});
  if (fs::file_size(P("old/gone.pak"), error) != dropped) GTEST_SKIP() << "no sparse files here";
  ASSERT_EQ(Run({"diff", "-o", P("patch.exe"), "--stub", P("stub.exe"), "--base", "1.0.0.0",
                 "--target", "1.0.0.1", P("old"), P("new")}),
            0)
      << err_;
  EXPECT_LT(fs::file_size(P("patch.exe")), uint64_t(4096));
  ASSERT_EQ(Run({"list", P("patch.exe"), "--json"}), 0) << err_;
  JsonValue listed;
  ASSERT_TRUE(JsonValue::Parse(out_, &listed)) << out_;
  std::map<std::string, JsonValue> byName;
  for (const JsonValue& entry : listed["entries"].Items()) byName[entry["name"].AsString()] = entry;
  ASSERT_EQ(byName.size(), 2u) << out_;
  EXPECT_EQ(byName["archive.pak"]["coding"].AsString(), "delta");
  EXPECT_EQ(byName["archive.pak"]["decodedSize"].AsInt(), static_cast<int64_t>(size + 3));
  EXPECT_EQ(byName["archive.pak"]["sourceSize"].AsInt(), static_cast<int64_t>(size));
  EXPECT_EQ(byName["gone.pak"]["kind"].AsString(), "removal");
  EXPECT_EQ(byName["gone.pak"]["sourceSize"].AsInt(), static_cast<int64_t>(dropped));
  EXPECT_EQ(Run({"verify", P("patch.exe")}), 0) << out_;
}

// A library whose name carries its version: the new one ships as a delta
// against the old one beside it, not whole; an unlike name in the folder, or
// an alike one elsewhere, is no source.
TEST_F(DiffTest, AVersionedNameShipsAsADeltaAgainstTheOldVersion) {
  const Bytes program = ProgramLike(80000, 31);
  WriteAll(P("old/lib/core-8.15.dll"), Text(program));
  WriteAll(P("old/lib/zz.dll"), Text(ProgramLike(80000, 32)));
  WriteAll(P("old/bin/core-8.16.dat"), Text(ProgramLike(80000, 33)));
  WriteAll(P("new/lib/core-8.16.dll"), Text(NextBuild(program, 34)));
  WriteAll(P("stub.exe"), "MZ");
  ASSERT_EQ(DiffOldToNew(), 0) << err_;
  EXPECT_NE(err_.find("lib\\core-8.16.dll (from lib\\core-8.15.dll)"), std::string::npos) << err_;
  ASSERT_EQ(Run({"extract", P("patch.exe"), P("x"), "--base-dir", P("old")}), 0) << err_;
  EXPECT_EQ(ReadAll(P("x/lib/core-8.16.dll")), ReadAll(P("new/lib/core-8.16.dll")));
}

// A file the new build moved keeps its name, one it renamed keeps its bytes:
// either ships as a delta against the old build's file at its old place,
// which the removal then takes away.
TEST_F(DiffTest, MovedAndRenamedFilesShipAsDeltasAgainstTheirOldPlace) {
  const Bytes program = ProgramLike(60000, 21);
  WriteAll(P("old/bin/tool.dll"), Text(program));
  WriteAll(P("new/lib/Tool.dll"), Text(NextBuild(program, 22)));  // moved and changed
  const std::string archive = Noise(30000, 23);
  WriteAll(P("old/data1.pak"), archive);
  WriteAll(P("new/data/first.pak"), archive);     // renamed, same bytes
  WriteAll(P("new/other.dll"), Noise(3000, 24));  // new, no source
  WriteAll(P("stub.exe"), "MZ");
  JsonValue report;
  ASSERT_EQ(DiffOldToNew(&report), 0) << err_;
  EXPECT_NE(err_.find("lib\\Tool.dll (from bin\\tool.dll)"), std::string::npos) << err_;
  std::map<std::string, JsonValue> byPath;
  for (const JsonValue& file : report["files"].Items()) byPath[file["path"].AsString()] = file;
  EXPECT_EQ(byPath["lib\\Tool.dll"]["action"].AsString(), "delta");
  EXPECT_EQ(byPath["lib\\Tool.dll"]["oldSize"].AsInt(), 60000);
  EXPECT_EQ(byPath["data\\first.pak"]["action"].AsString(), "delta");
  EXPECT_LT(byPath["data\\first.pak"]["stored"].AsInt(), 100);
  EXPECT_EQ(byPath["other.dll"]["action"].AsString(), "new");
  EXPECT_EQ(byPath["bin\\tool.dll"]["action"].AsString(), "removed");
  EXPECT_EQ(byPath["data1.pak"]["action"].AsString(), "removed");

  ASSERT_EQ(Run({"list", P("patch.exe"), "--json"}), 0);
  JsonValue listed;
  ASSERT_TRUE(JsonValue::Parse(out_, &listed)) << out_;
  std::map<std::string, std::string> sources;
  for (const JsonValue& entry : listed["entries"].Items()) {
    if (!entry["sourcePath"].IsNull()) {
      sources[entry["destination"].AsString()] = entry["sourcePath"].AsString();
    }
  }
  EXPECT_EQ(sources, (std::map<std::string, std::string>{{"data\\first.pak", "data1.pak"},
                                                         {"lib\\Tool.dll", "bin\\tool.dll"}}));
  ASSERT_EQ(Run({"verify", P("patch.exe")}), 0) << out_;
  ASSERT_EQ(Run({"extract", P("patch.exe"), P("x"), "--base-dir", P("old")}), 0) << err_;
  EXPECT_EQ(ReadAll(P("x/lib/Tool.dll")), ReadAll(P("new/lib/Tool.dll")));
  EXPECT_EQ(ReadAll(P("x/data/first.pak")), archive);

  // The dry run reads the source at its old place.
  fs::copy(P("old"), P("game"), fs::copy_options::recursive);
  WriteAll(P("game/Config/Client.ini"), "[Version]\nGameVersion=1.0.0.0\n");
  ASSERT_EQ(Run({"check", P("patch.exe"), P("game")}), 0) << out_;
  EXPECT_NE(out_.find("  patch    Tool.dll -> lib\\Tool.dll\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("  remove   tool.dll -> bin\\tool.dll\n"), std::string::npos) << out_;
  fs::remove(P("game/data1.pak"));
  EXPECT_EQ(Run({"check", P("patch.exe"), P("game")}), 1);
  EXPECT_NE(out_.find("data1.pak is missing from the game directory"), std::string::npos) << out_;
}

// Windows keeps a file whose Greek or fullwidth letters changed case only,
// as it keeps one whose ASCII letters did: unchanged, or changed at its own
// path, and never removed.
TEST_F(DiffTest, ANameWhoseLettersOutsideAsciiChangedCaseIsTheSameFile) {
  WriteAll(P("old/Ω.dat"), "omega");
  WriteAll(P("new/ω.dat"), "omega");
  const Bytes program = ProgramLike(60000, 41);
  WriteAll(P("old/Data/Ｊ.dll"), Text(program));
  WriteAll(P("new/data/ｊ.dll"), Text(NextBuild(program, 42)));
  WriteAll(P("stub.exe"), "MZ");
  JsonValue report;
  ASSERT_EQ(DiffOldToNew(&report), 0) << err_;
  std::map<std::string, std::string> actions;
  for (const JsonValue& file : report["files"].Items()) {
    actions[file["path"].AsString()] = file["action"].AsString();
  }
  EXPECT_EQ(actions, (std::map<std::string, std::string>{{"data\\ｊ.dll", "delta"}})) << err_;
  EXPECT_EQ(report["unchanged"].AsInt(), 1);
  EXPECT_EQ(err_.find("(from"), std::string::npos) << err_;

  // Its delta is made from the file at its own path, found whatever its case.
  ASSERT_EQ(Run({"verify", P("patch.exe")}), 0) << out_;
  ASSERT_EQ(Run({"extract", P("patch.exe"), P("x"), "--base-dir", P("old")}), 0) << err_;
  EXPECT_EQ(ReadAll(P("x/data/ｊ.dll")), ReadAll(P("new/data/ｊ.dll")));
  fs::copy(P("old"), P("game"), fs::copy_options::recursive);
  WriteAll(P("game/Config/Client.ini"), "[Version]\nGameVersion=1.0.0.0\n");
  ASSERT_EQ(Run({"check", P("patch.exe"), P("game")}), 0) << out_;
  EXPECT_NE(out_.find("  patch    ｊ.dll -> data\\ｊ.dll\n"), std::string::npos) << out_;
  EXPECT_EQ(out_.find("remove"), std::string::npos) << out_;
}

// An empty file the new build drops is removed like any other: its removal
// names zero bytes and the MD5 of no bytes, and takes the file from a game at
// the old build (one the player wrote into stays).
TEST_F(DiffTest, AnEmptyFileTheNewBuildDropsIsRemoved) {
  const std::string emptyMd5 = "d41d8cd98f00b204e9800998ecf8427e";
  WriteAll(P("old/data/empty.log"), "");
  WriteAll(P("old/logs/blank.txt"), "");  // alone in its folder
  for (const char* tree : {"old", "new"}) WriteAll(P(std::string(tree) + "/data/keep.txt"), "k");
  WriteAll(P("stub.exe"), "MZ");
  JsonValue report;
  ASSERT_EQ(DiffOldToNew(&report), 0) << err_;
  std::map<std::string, std::string> actions;
  for (const JsonValue& file : report["files"].Items()) {
    actions[file["path"].AsString()] = file["action"].AsString();
    EXPECT_EQ(file["oldSize"].AsInt(), 0) << file["path"].AsString();
  }
  EXPECT_EQ(actions, (std::map<std::string, std::string>{{"data\\empty.log", "removed"},
                                                         {"logs\\blank.txt", "removed"}}));

  // The updater file holds the two removals, each naming the empty file.
  ASSERT_EQ(Run({"list", P("patch.exe"), "--json"}), 0) << err_;
  JsonValue listed;
  ASSERT_TRUE(JsonValue::Parse(out_, &listed)) << out_;
  std::vector<std::string> removed;
  for (const JsonValue& entry : listed["entries"].Items()) {
    EXPECT_EQ(entry["kind"].AsString(), "removal");
    EXPECT_EQ(entry["sourceSize"].AsInt(), 0);
    EXPECT_EQ(entry["sourceMd5"].AsString(), emptyMd5);
    removed.push_back(entry["destination"].AsString());
  }
  EXPECT_EQ(removed, (std::vector<std::string>{"data\\empty.log", "logs\\blank.txt"}));
  ASSERT_EQ(Run({"verify", P("patch.exe")}), 0) << out_;
  ASSERT_EQ(Run({"extract", P("patch.exe"), P("x"), "--base-dir", P("old")}), 0) << err_;
  EXPECT_NE(out_.find("remove data\\empty.log (when it holds 0 bytes, md5 " + emptyMd5 + ")\n"),
            std::string::npos)
      << out_;
  EXPECT_NE(out_.find("remove logs\\blank.txt (when it holds 0 bytes, md5 " + emptyMd5 + ")\n"),
            std::string::npos)
      << out_;

  // The dry run on the old build removes both; a file no longer empty stays.
  fs::copy(P("old"), P("game"), fs::copy_options::recursive);
  WriteAll(P("game/Config/Client.ini"), "[Version]\nGameVersion=1.0.0.0\n");
  ASSERT_EQ(Run({"check", P("patch.exe"), P("game")}), 0) << out_;
  EXPECT_NE(out_.find("  remove   empty.log -> data\\empty.log\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("  remove   blank.txt -> logs\\blank.txt\n"), std::string::npos) << out_;
  WriteAll(P("game/data/empty.log"), "written by the game");
  ASSERT_EQ(Run({"check", P("patch.exe"), P("game")}), 0) << out_;
  EXPECT_NE(out_.find("  keep     empty.log -> data\\empty.log\n"), std::string::npos) << out_;
}
