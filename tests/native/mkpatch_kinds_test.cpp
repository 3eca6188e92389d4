// list, verify, extract and check on every kind of entry: compressed files
// and packages from `build --compress`, and the deltas, whole files and
// removals of `diff`.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "codec_test_support.h"
#include "json_value.h"
#include "mkpatch_fixture.h"
#include "payload_builder.h"
#include "pe_image_maker.h"

using namespace mkpatch_test;

namespace {

class KindsTest : public MkpatchTest {
 protected:
  // A patch with one entry of each kind the diff makes, and a game installed
  // at the old build.
  void MakePatch() {
    const Bytes program = ProgramLike(50000, 1);
    WriteAll(P("old/bin/a.bin"), Text(program));
    WriteAll(P("new/bin/a.bin"), Text(NextBuild(program, 2)));  // a delta
    WriteAll(P("old/data/w.bin"), Noise(3000, 1));
    WriteAll(P("new/data/w.bin"), Noise(3000, 2));                // whole
    WriteAll(P("new/data/n.txt"), Repeated("a new file ", 100));  // new, compressed
    WriteAll(P("old/data/gone.txt"), "old bytes");                // removed
    WriteAll(P("old/keep.txt"), "k");
    WriteAll(P("new/keep.txt"), "k");
    WriteAll(P("p.tpk"), Repeated("package ", 100));
    WriteAll(P("stub.exe"), "MZ stub");
    ASSERT_EQ(Run({"diff", "-o", P("patch.exe"), "--stub", P("stub.exe"), "--base", "1.0.0.0",
                   "--target", "1.0.0.1", P("old"), P("new"), P("p.tpk")}),
              0)
        << err_;
    patch_ = ReadAll(P("patch.exe"));
  }

  void InstallOld() {
    fs::remove_all(P("game"));
    fs::copy(P("old"), P("game"), fs::copy_options::recursive);
    WriteAll(P("game/Config/Client.ini"), "[Version]\nGameVersion=1.0.0.0\n");
    WriteAll(P("game/launch/launch.exe"), "MZ");
  }

  // check --json: whether it applies, and each entry's action by name.
  bool Check(std::map<std::string, std::string>* actions, std::string* reason = nullptr) {
    const int code = Run({"check", P("patch.exe"), P("game"), "--json"});
    JsonValue result;
    EXPECT_TRUE(JsonValue::Parse(out_, &result)) << out_;
    actions->clear();
    for (const JsonValue& entry : result["entries"].Items()) {
      (*actions)[entry["name"].AsString()] = entry["action"].AsString();
    }
    if (reason) *reason = result["reason"].AsString();
    EXPECT_EQ(code == 0, result["applies"].AsBool()) << out_;
    return code == 0;
  }

  // The listed entries by name: their data offsets and descriptor fields.
  std::map<std::string, JsonValue> Listed() {
    EXPECT_EQ(Run({"list", P("patch.exe"), "--json"}), 0) << err_;
    JsonValue listed;
    EXPECT_TRUE(JsonValue::Parse(out_, &listed)) << out_;
    std::map<std::string, JsonValue> byName;
    for (const JsonValue& entry : listed["entries"].Items())
      byName[entry["name"].AsString()] = entry;
    return byName;
  }

  // The patch with one byte changed and its payload digest made good again,
  // so that only the damage itself can be found.
  // patch.exe from two builds that differ in one file.
  void DiffOneFile(const std::string& path, const Bytes& old, const Bytes& next) {
    WriteAll(P("old/" + path), Text(old));
    WriteAll(P("new/" + path), Text(next));
    WriteAll(P("stub.exe"), "MZ stub");
    ASSERT_EQ(Run({"diff", "-o", P("patch.exe"), "--stub", P("stub.exe"), "--base", "1.0.0.0",
                   "--target", "1.0.0.1", P("old"), P("new")}),
              0)
        << err_;
  }

  // verify checks the one delta by its streams; extract makes `next` of it.
  void ExpectStreamsCheckedAndExtracted(const std::string& path, const Bytes& next) {
    ASSERT_EQ(Run({"verify", P("patch.exe")}), 0) << out_;
    EXPECT_NE(out_.find("1 delta that only the installed file decodes: streams only"),
              std::string::npos)
        << out_;
    ASSERT_EQ(Run({"extract", P("patch.exe"), P("out"), "--base-dir", P("old")}), 0) << err_;
    EXPECT_TRUE(ReadAll(P("out/" + path)) == Text(next));
  }

  // Where a listed entry's data begins in the file.
  static size_t StoredBegin(JsonValue& entry) {
    return static_cast<size_t>(entry["offset"].AsInt() + entry["size"].AsInt() -
                               entry["storedSize"].AsInt());
  }

  void Damage(size_t at, unsigned char value) {
    std::vector<unsigned char> bytes(patch_.begin(), patch_.end());
    bytes[at] = value;
    ASSERT_TRUE(AddDigestRecord(bytes));
    WriteAll(P("patch.exe"), std::string(bytes.begin(), bytes.end()));
  }

  std::string patch_;
};

TEST_F(KindsTest, AnImageDeltaIsVerifiedByItsStreamsAndExtractedAgainstTheImage) {
  // Two builds of an x64 program: the delta models their references and
  // cannot be decoded against stand-in zeros.
  ImageRecipe recipe;
  recipe.x64 = true;
  recipe.functions = 300;
  const Bytes old = MakeImage(recipe).bytes;
  recipe.insertedFunction = 9;
  recipe.dataGrowth = 16;
  const Bytes next = MakeImage(recipe).bytes;
  ASSERT_NO_FATAL_FAILURE(DiffOneFile("bin/engine.dll", old, next));
  ASSERT_NO_FATAL_FAILURE(ExpectStreamsCheckedAndExtracted("bin/engine.dll", next));
  // A damaged stream is found without the image: the control stream's
  // frame header (after the method, the flags and three numbers) gets a
  // reserved bit.
  patch_ = ReadAll(P("patch.exe"));
  JsonValue entry = Listed()["engine.dll"];
  size_t at = StoredBegin(entry) + 2;
  for (int number = 0; number < 3; ++number) {
    while (static_cast<unsigned char>(patch_[at]) & 0x80) ++at;
    ++at;
  }
  Damage(at, 0xFF);
  EXPECT_EQ(Run({"verify", P("patch.exe")}), 1) << out_;
  EXPECT_NE(out_.find("(engine.dll): cannot be decoded"), std::string::npos) << out_;
}

TEST_F(KindsTest, AConvertedPrefixDeltaIsVerifiedByItsStreamsAndExtractedAgainstTheOldFile) {
  // Code laid out anew with its callees where they were: the old file as
  // prefix with converted branches wins, and its branches are restored from
  // what the old file makes of the new one, so zeros cannot stand in.
  const Bytes old = CallDense(120000);
  const Bytes next = LaidOutAnew(old);
  ASSERT_NO_FATAL_FAILURE(DiffOneFile("bin/code.bin", old, next));
  patch_ = ReadAll(P("patch.exe"));
  JsonValue entry = Listed()["code.bin"];
  ASSERT_EQ(entry["deltaWay"].AsString(), "old file as prefix, x86 branches");
  ASSERT_NO_FATAL_FAILURE(ExpectStreamsCheckedAndExtracted("bin/code.bin", next));
  // The main stream's frame header (after the method and its size) with a
  // reserved bit is found without the old file.
  size_t at = StoredBegin(entry) + 1;
  while (static_cast<unsigned char>(patch_[at]) & 0x80) ++at;
  Damage(at + 1, 0xFF);
  EXPECT_EQ(Run({"verify", P("patch.exe")}), 1) << out_;
  EXPECT_NE(out_.find("(code.bin): cannot be decoded"), std::string::npos) << out_;
}

}  // namespace

TEST_F(KindsTest, BuildCompressStoresEntriesSmallerAndDecodesToTheInputs) {
  WriteAll(P("stub.exe"), "MZ stub");
  WriteAll(P("in/text.txt"), Repeated("compressible text ", 600));
  WriteAll(P("in/noise.bin"), Noise(5000, 3));
  WriteAll(P("in/sub/game.tpk"), Repeated("package bytes ", 300));
  WriteAll(P("top.tpk"), Repeated("unnamed package ", 200));
  std::vector<std::string> args = Build({P("in"), "--name", "=" + P("top.tpk"), "--compress"});
  ASSERT_EQ(Run(args), 0) << err_;
  const std::string compressed = ReadAll(P("out.exe"));
  args.pop_back();
  ASSERT_EQ(Run(args), 0) << err_;
  EXPECT_LT(compressed.size() + 10000, ReadAll(P("out.exe")).size());
  WriteAll(P("out.exe"), compressed);

  ASSERT_EQ(Run({"list", P("out.exe"), "--json"}), 0) << err_;
  JsonValue listed;
  ASSERT_TRUE(JsonValue::Parse(out_, &listed)) << out_;
  std::map<std::string, JsonValue> byName;
  for (const JsonValue& entry : listed["entries"].Items()) byName[entry["name"].AsString()] = entry;
  const JsonValue& text = byName["text.txt"];
  EXPECT_EQ(text["kind"].AsString(), "plain");
  EXPECT_EQ(text["install"].AsString(), "file");
  EXPECT_EQ(text["coding"].AsString(), "zstd");
  EXPECT_EQ(text["decodedSize"].AsInt(), 18 * 600);
  EXPECT_LT(text["storedSize"].AsInt(), 1000);
  EXPECT_EQ(text["destination"].AsString(), "text.txt");
  EXPECT_TRUE(text["sourceMd5"].IsNull());
  EXPECT_EQ(byName["noise.bin"]["coding"].AsString(), "stored");
  EXPECT_EQ(byName["noise.bin"]["storedSize"].AsInt(), 5000);
  EXPECT_EQ(byName["sub\\game.tpk"]["kind"].AsString(), "package");
  EXPECT_TRUE(byName["sub\\game.tpk"]["destination"].IsNull());
  EXPECT_EQ(byName["toplevel.tpk"]["kind"].AsString(), "package");
  EXPECT_EQ(byName["toplevel.tpk"]["coding"].AsString(), "zstd");
  ASSERT_EQ(Run({"list", P("out.exe")}), 0);
  EXPECT_NE(out_.find("      plain, zstd, "), std::string::npos) << out_;
  EXPECT_NE(out_.find(" -> 10800 bytes, md5 "), std::string::npos) << out_;

  ASSERT_EQ(Run({"verify", P("out.exe")}), 0) << out_;
  ASSERT_EQ(Run({"extract", P("out.exe"), P("x")}), 0) << err_;
  EXPECT_EQ(ReadAll(P("x/text.txt")), ReadAll(P("in/text.txt")));
  EXPECT_EQ(ReadAll(P("x/noise.bin")), ReadAll(P("in/noise.bin")));
  EXPECT_EQ(ReadAll(P("x/sub/game.tpk")), ReadAll(P("in/sub/game.tpk")));
  EXPECT_EQ(ReadAll(P("x/toplevel.tpk")), ReadAll(P("top.tpk")));

  // The dry run compares decoded files by size and MD5.
  WriteAll(P("game/Config/Client.ini"), "[Version]\nGameVersion=1.4.1.34000\n");
  WriteAll(P("game/launch/launch.exe"), "MZ");
  WriteAll(P("game/TEXT.TXT"), ReadAll(P("in/text.txt")));
  ASSERT_EQ(Run({"check", P("out.exe"), P("game")}), 0) << out_;
  EXPECT_NE(out_.find("  same     text.txt -> text.txt\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("  new      noise.bin -> noise.bin\n"), std::string::npos) << out_;
  // Nor is a described plain file written through a link.
  fs::create_symlink(P("in/noise.bin"), P("game/noise.bin"));
  EXPECT_EQ(Run({"check", P("out.exe"), P("game")}), 1) << out_;
  EXPECT_NE(out_.find("  link     noise.bin -> noise.bin\n"), std::string::npos) << out_;

  // A compressed entry's name leaves room for the marker; a bare package
  // goes to the launcher, which decodes nothing.
  const std::string name75 = std::string(71, 'n') + ".dat";
  EXPECT_EQ(Run(Build({"--name", name75 + "=" + P("in/noise.bin"), "--compress"})), 1);
  EXPECT_NE(err_.find("with --compress the limit is 70"), std::string::npos) << err_;
  EXPECT_EQ(Run(Build({"--name", name75 + "=" + P("in/noise.bin")})), 0) << err_;
  EXPECT_EQ(Run({"build", "-o", P("bare.tpk"), "--base", "1.0.0.0", "--target", "1.0.0.1",
                 "--compress", P("in")}),
            2);
  EXPECT_NE(err_.find("--compress needs --stub"), std::string::npos) << err_;
  EXPECT_FALSE(fs::exists(P("bare.tpk")));
}

TEST_F(KindsTest, CheckGivesTheUpdatersVerdictForEveryKind) {
  MakePatch();
  std::map<std::string, std::string> actions;
  std::string reason;
  InstallOld();
  EXPECT_TRUE(Check(&actions));
  EXPECT_EQ(actions, (std::map<std::string, std::string>{{"a.bin", "patch"},
                                                         {"w.bin", "replace"},
                                                         {"n.txt", "new"},
                                                         {"p.tpk", "package"},
                                                         {"gone.txt", "remove"}}));
  ASSERT_EQ(Run({"check", P("patch.exe"), P("game")}), 0);
  EXPECT_NE(out_.find("  patch    a.bin -> bin\\a.bin\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("  remove   gone.txt -> data\\gone.txt\n"), std::string::npos) << out_;

  // A run that ended after its files, before its removal: run again, it
  // finds every file at its result and the old file gone.
  for (const char* file : {"bin/a.bin", "data/w.bin", "data/n.txt"}) {
    fs::copy_file(P(std::string("new/") + file), P(std::string("game/") + file),
                  fs::copy_options::overwrite_existing);
  }
  fs::remove(P("game/data/gone.txt"));
  // Files already at their new bytes are left as they are, read-only or not.
  fs::permissions(P("game/bin/a.bin"), fs::perms::owner_read);
  fs::permissions(P("game/data/w.bin"), fs::perms::owner_read);
  EXPECT_TRUE(Check(&actions));
  EXPECT_EQ(actions["a.bin"], "same");
  EXPECT_EQ(actions["w.bin"], "same");
  EXPECT_EQ(actions["n.txt"], "same");
  EXPECT_EQ(actions["gone.txt"], "gone");

  // Windows finds the files whatever their case; a removal leaves a file the
  // player changed.
  InstallOld();
  fs::rename(P("game/bin"), P("game/BIN"));
  fs::rename(P("game/BIN/a.bin"), P("game/BIN/A.Bin"));
  WriteAll(P("game/data/gone.txt"), "the player's own");
  EXPECT_TRUE(Check(&actions));
  EXPECT_EQ(actions["a.bin"], "patch");
  EXPECT_EQ(actions["gone.txt"], "keep");

  // Not the build the patch was made from: the updater refuses (exit code 5).
  InstallOld();
  WriteAll(P("game/bin/a.bin"), "changed by the player");
  EXPECT_FALSE(Check(&actions, &reason));
  EXPECT_EQ(actions["a.bin"], "mismatch");
  EXPECT_NE(reason.find("bin\\a.bin in the game directory is not the file the delta was made "
                        "from (21 bytes, md5 "),
            std::string::npos)
      << reason;
  EXPECT_NE(reason.find("refuses with exit code 5"), std::string::npos) << reason;
  fs::remove(P("game/bin/a.bin"));
  EXPECT_FALSE(Check(&actions, &reason));
  EXPECT_EQ(actions["a.bin"], "mismatch");
  EXPECT_NE(reason.find("bin\\a.bin is missing from the game directory"), std::string::npos)
      << reason;

  // Links are refused the same way: at a file, at a removal, on the way.
  InstallOld();
  fs::rename(P("game/bin/a.bin"), P("a.bin.real"));
  fs::create_symlink(P("a.bin.real"), P("game/bin/a.bin"));
  EXPECT_FALSE(Check(&actions, &reason));
  EXPECT_EQ(actions["a.bin"], "link");
  EXPECT_NE(reason.find("is a symbolic link"), std::string::npos) << reason;
  EXPECT_NE(reason.find("exit code 5"), std::string::npos) << reason;
  InstallOld();
  fs::rename(P("game/data/gone.txt"), P("gone.real"));
  fs::create_symlink(P("gone.real"), P("game/data/gone.txt"));
  EXPECT_FALSE(Check(&actions));
  EXPECT_EQ(actions["gone.txt"], "link");
  InstallOld();
  fs::rename(P("game/data"), P("data.real"));
  fs::create_directory_symlink(P("data.real"), P("game/data"));
  EXPECT_FALSE(Check(&actions));
  EXPECT_EQ(actions["w.bin"], "link");
  EXPECT_EQ(actions["n.txt"], "link");
  EXPECT_EQ(actions["gone.txt"], "link");
  EXPECT_EQ(actions["a.bin"], "patch");

  // Read-only files cannot be replaced.
  InstallOld();
  fs::permissions(P("game/bin/a.bin"), fs::perms::owner_read);
  fs::permissions(P("game/data/w.bin"), fs::perms::owner_read);
  EXPECT_FALSE(Check(&actions, &reason));
  EXPECT_EQ(actions["a.bin"], "patch");
  EXPECT_EQ(actions["w.bin"], "replace");
  EXPECT_NE(reason.find("bin\\a.bin in the game directory is read-only"), std::string::npos)
      << reason;
  EXPECT_NE(reason.find("data\\w.bin in the game directory is read-only"), std::string::npos)
      << reason;
}

// Sizes alone tell nothing: a file changed in place keeps its size. The
// updater compares MD5s, and so must the dry run, for the file a delta
// applies to and for a file to remove. (A whole file of the old build's
// size is in the test above: w.bin.)
TEST_F(KindsTest, CheckJudgesFilesByTheirBytesNotTheirSize) {
  MakePatch();
  std::map<std::string, std::string> actions;
  std::string reason;
  auto changeOneByte = [&](const std::string& path) {
    std::string bytes = ReadAll(P(path));
    ASSERT_FALSE(bytes.empty()) << path;
    bytes[bytes.size() / 2] ^= 0x01;
    WriteAll(P(path), bytes);
  };

  // The delta's source with one byte changed: refused, exit code 5.
  InstallOld();
  changeOneByte("game/bin/a.bin");
  ASSERT_EQ(ReadAll(P("game/bin/a.bin")).size(), ReadAll(P("old/bin/a.bin")).size());
  EXPECT_FALSE(Check(&actions, &reason));
  EXPECT_EQ(actions["a.bin"], "mismatch");
  EXPECT_NE(reason.find("bin\\a.bin in the game directory is not the file the delta was made "
                        "from (50000 bytes, md5 "),
            std::string::npos)
      << reason;
  EXPECT_NE(reason.find("refuses with exit code 5"), std::string::npos) << reason;

  // A file to remove that the player changed in place stays.
  InstallOld();
  changeOneByte("game/data/gone.txt");
  EXPECT_TRUE(Check(&actions)) << out_;
  EXPECT_EQ(actions["gone.txt"], "keep");
}

TEST_F(KindsTest, VerifyDecodesEveryEntryAndNamesTheDamage) {
  MakePatch();
  ASSERT_EQ(Run({"verify", P("patch.exe")}), 0) << out_;
  EXPECT_NE(out_.find("decoded: 4 entries against their descriptors (1 delta against zeros"),
            std::string::npos)
      << out_;
  std::map<std::string, JsonValue> entries = Listed();
  const size_t delta = static_cast<size_t>(entries["a.bin"]["offset"].AsInt());
  const size_t zstd = static_cast<size_t>(entries["n.txt"]["offset"].AsInt());
  ASSERT_EQ(entries["a.bin"]["coding"].AsString(), "delta");
  ASSERT_EQ(entries["n.txt"]["coding"].AsString(), "zstd");
  const size_t zstdStored = zstd + 60 + std::string("data\\n.txt").size();

  struct Case {
    const char* label;
    size_t at;
    unsigned char value;
    const char* problem;
  };
  const std::vector<Case> cases = {
      // The recorded MD5 of a compressed file.
      {"decoded md5", zstd + 12, static_cast<unsigned char>(patch_[zstd + 12] ^ 1),
       "(n.txt): decodes to MD5 "},
      // zstd's frame header: a reserved bit.
      {"zstd frame", zstdStored + 4, static_cast<unsigned char>(patch_[zstdStored + 4] | 0x08),
       "(n.txt): cannot be decoded"},
      // A delta that would make one byte more than it does.
      {"delta size", delta + 8, static_cast<unsigned char>(patch_[delta + 8] + 1),
       "(a.bin): cannot be decoded: "},
      // A delta whose source is far shorter than its copies need.
      {"delta source", delta + 29, 0, "(a.bin): cannot be decoded"},
  };
  for (const Case& c : cases) {
    Damage(c.at, c.value);
    EXPECT_EQ(Run({"verify", P("patch.exe")}), 1) << c.label;
    EXPECT_NE(out_.find(c.problem), std::string::npos) << c.label << ": " << out_;
    EXPECT_NE(out_.find("(matches)"), std::string::npos) << c.label;
    EXPECT_NE(out_.find(" 1 problem\n"), std::string::npos) << c.label << ": " << out_;
  }

  // A descriptor the updater cannot read makes the whole file unusable.
  const std::string format = "gone.txt";
  const size_t goneHeader = static_cast<size_t>(entries["gone.txt"]["offset"].AsInt()) - 84;
  const std::vector<Case> structural = {
      {"reserved", delta + 50, 1, "(a.bin): descriptor: reserved descriptor bytes not zero"},
      {"kind", delta + 4, 9, "(a.bin): descriptor: unknown entry kind"},
      {"format", goneHeader + format.size() + 1 + 8, 3,
       "(gone.txt): marked for descriptor format 3, which this mkpatch does not know"},
  };
  for (const Case& s : structural) {
    Damage(s.at, s.value);
    EXPECT_EQ(Run({"verify", P("patch.exe")}), 1) << s.label;
    EXPECT_NE(out_.find(s.problem), std::string::npos) << s.label << ": " << out_;
    EXPECT_EQ(Run({"list", P("patch.exe")}), 1) << s.label;
    EXPECT_NE(err_.find(s.problem), std::string::npos) << s.label << ": " << err_;
    EXPECT_EQ(Run({"extract", P("patch.exe"), P("x"), "--base-dir", P("old")}), 1) << s.label;
    EXPECT_FALSE(fs::exists(P("x"))) << s.label;
  }
}

TEST_F(KindsTest, ExtractAppliesDeltasOnlyToTheFilesTheyWereMadeFrom) {
  MakePatch();
  EXPECT_EQ(Run({"extract", P("patch.exe"), P("x")}), 1);
  EXPECT_NE(err_.find("bin\\a.bin is a delta against the installed file; extract needs "
                      "--base-dir GAMEDIR"),
            std::string::npos)
      << err_;
  EXPECT_FALSE(fs::exists(P("x")));
  InstallOld();
  WriteAll(P("game/bin/a.bin"), "other");
  EXPECT_EQ(Run({"extract", P("patch.exe"), P("x"), "--base-dir", P("game")}), 1);
  EXPECT_NE(err_.find("a.bin is not the file the delta was made from (5 bytes"), std::string::npos)
      << err_;
  EXPECT_FALSE(fs::exists(P("x")));
  fs::remove(P("game/bin/a.bin"));
  EXPECT_EQ(Run({"extract", P("patch.exe"), P("x"), "--base-dir", P("game")}), 1);
  EXPECT_NE(err_.find("no file bin\\a.bin in " + P("game")), std::string::npos) << err_;
  EXPECT_FALSE(fs::exists(P("x")));

  // Extracted over the installed game itself, letters in another case: the
  // file is found and replaced where it is, as Windows would, not written
  // beside it under the patch's spelling.
  InstallOld();
  fs::rename(P("game/bin"), P("game/BIN"));
  fs::rename(P("game/BIN/a.bin"), P("game/BIN/A.BIN"));
  ASSERT_EQ(Run({"extract", P("patch.exe"), P("game"), "--base-dir", P("game")}), 0) << err_;
  EXPECT_TRUE(ReadAll(P("game/BIN/A.BIN")) == ReadAll(P("new/bin/a.bin")));
  EXPECT_FALSE(fs::exists(P("game/bin")));
  EXPECT_FALSE(fs::exists(P("game/BIN/a.bin")));
  EXPECT_EQ(ReadAll(P("game/data/n.txt")), ReadAll(P("new/data/n.txt")));
  EXPECT_EQ(ReadAll(P("game/p.tpk")), ReadAll(P("p.tpk")));
  EXPECT_EQ(ReadAll(P("game/data/gone.txt")), "old bytes");  // listed, not removed
  EXPECT_NE(out_.find("remove data\\gone.txt (when it holds 9 bytes, md5 "), std::string::npos)
      << out_;
  EXPECT_NE(out_.find("extracted 4 entries to "), std::string::npos) << out_;
}
