// The install planner against a game made up in memory: what the updater
// refuses before its first write, and what mkpatch check predicts besides,
// from one planner, so that the two verdicts never part.
#include "update/plan/install_plan.h"

#include <gtest/gtest.h>

#include <map>

#include "md5_hex.h"
#include "payload_builder.h"
#include "update/base/gbk_text.h"
#include "update/base/md5.h"
#include "update/format/entry_group.h"
#include "update/format/game_layout.h"

namespace {

// A game directory: files by their folded paths, and what stands where.
class FakeGame : public InstalledGame {
 public:
  void Put(const std::string& path, const std::string& bytes, bool readOnly = false) {
    Entry& entry = entries_[FoldGbkName(path)];
    entry.state = GamePathState::File;
    entry.bytes = bytes;
    entry.readOnly = readOnly;
  }
  void Mark(const std::string& path, GamePathState state) {
    entries_[FoldGbkName(path)].state = state;
  }
  void BreakReading(const std::string& path) { entries_[FoldGbkName(path)].unreadable = true; }
  void SetLauncher(bool present) { launcher_ = present; }
  int digests = 0;

  GamePathInfo Look(const std::string& relative, bool written) override {
    GamePathInfo info;
    if (relative.size() + (written ? 8 : 0) > tooLongFrom) {
      info.state = GamePathState::TooLong;
      info.pathLength = static_cast<uint32_t>(relative.size());
      return info;
    }
    auto found = entries_.find(FoldGbkName(relative));
    if (found == entries_.end()) return info;
    info.state = found->second.state;
    info.local = "game\\" + relative;
    info.size = found->second.bytes.size();
    info.readOnlyOrHidden = found->second.readOnly;
    return info;
  }

  bool Digest(const std::string& relative, unsigned char (&md5)[16], uint32_t* error) override {
    ++digests;
    const Entry& entry = entries_.at(FoldGbkName(relative));
    if (entry.unreadable) {
      *error = 32;  // held by another program
      return false;
    }
    MD5 digest;
    digest.update(reinterpret_cast<const unsigned char*>(entry.bytes.data()),
                  static_cast<uint32_t>(entry.bytes.size()));
    digest.finalize();
    const std::string raw = digest.raw_digest();
    std::copy(raw.begin(), raw.end(), md5);
    return true;
  }

  bool HasLauncher() override { return launcher_; }

  size_t tooLongFrom = 259;

 private:
  struct Entry {
    GamePathState state = GamePathState::Missing;
    std::string bytes;
    bool readOnly = false;
    bool unreadable = false;
  };
  std::map<std::string, Entry> entries_;
  bool launcher_ = true;
};

PayloadFile Whole(const std::string& path, const std::string& bytes) {
  return DescribedFile("f", DescribeFile(EntryKind::PathFile, EntryCoding::Stored, bytes, path),
                       bytes);
}

PayloadFile Delta(const std::string& path, const std::string& old, const std::string& fresh,
                  const std::string& sourcePath = std::string()) {
  EntryDescriptor delta = DescribeFile(EntryKind::PathFile, EntryCoding::Delta, fresh, path);
  DescribeSource(delta, old);
  delta.sourcePath = sourcePath;
  return DescribedFile("d", delta, "stored delta bytes");
}

PayloadFile Removal(const std::string& path, const std::string& old) {
  return DescribedFile("r", DescribeRemoval(path, old), "");
}

// An updater and what its reading gives, for the planner.
struct Patch {
  std::vector<unsigned char> file;
  PayloadTable table;
  std::vector<EntryDetail> details;

  explicit Patch(const std::vector<PayloadFile>& files) : file(BuildUpdater(32, files)) {
    MemoryByteSource source(file.data(), file.size());
    PatchTrailer trailer;
    uint32_t got = 0;
    EXPECT_TRUE(ReadTrailer(source, &trailer, &got));
    table = ReadPayloadTable(source, trailer);
    EntryDetails read = ReadEntryDetails(source, table.entries);
    EXPECT_EQ(read.error, EntryDetailError::None);
    details = read.details;
  }

  InstallPlan Plan(InstalledGame& game, bool predict) {
    MemoryByteSource source(file.data(), file.size());
    return predict ? PredictInstall(source, table.entries, details, game)
                   : PlanInstall(source, table.entries, details, game);
  }
};

std::vector<PlanProblemKind> Refusals(const InstallPlan& plan) {
  std::vector<PlanProblemKind> kinds;
  for (const PlanProblem& problem : plan.problems) {
    if (IsRefusal(problem.kind)) kinds.push_back(problem.kind);
  }
  return kinds;
}

// The updater's plan and mkpatch check's must refuse alike.
InstallPlan PlanBoth(Patch& patch, FakeGame& game) {
  const InstallPlan updater = patch.Plan(game, false);
  const InstallPlan check = patch.Plan(game, true);
  EXPECT_EQ(Refusals(updater), Refusals(check));
  EXPECT_EQ(updater.entries.size(), check.entries.size());
  return check;
}

const std::string kOld = "the old build's bytes of the file";
const std::string kNew = "the new build's bytes of the file, longer";

TEST(InstallPlan, ADeltaPatchesItsSourceAndLeavesANewFileAlone) {
  Patch patch({Delta("bin\\a.dll", kOld, kNew), Delta("bin\\b.dll", kOld, kNew)});
  FakeGame game;
  game.Put("bin\\a.dll", kOld);
  game.Put("BIN\\B.DLL", kNew);  // a run that was stopped installed it
  const InstallPlan plan = PlanBoth(patch, game);
  EXPECT_TRUE(plan.problems.empty());
  EXPECT_EQ(plan.entries[0].action, InstallAction::Patch);
  EXPECT_EQ(plan.entries[0].source, "bin\\a.dll");
  EXPECT_EQ(plan.entries[1].action, InstallAction::Same);
}

TEST(InstallPlan, ASourceOfOtherBytesMissingOrADirectoryRefusesWithExitCodeFive) {
  Patch patch({Delta("a.dll", kOld, kNew)});
  for (int state = 0; state < 3; ++state) {
    FakeGame game;
    if (state == 0) game.Put("a.dll", "other bytes");
    if (state == 2) game.Mark("a.dll", GamePathState::Directory);
    const InstallPlan plan = PlanBoth(patch, game);
    ASSERT_EQ(plan.problems.size(), 1u) << state;
    EXPECT_EQ(plan.problems[0].kind, PlanProblemKind::SourceMismatch);
    EXPECT_EQ(plan.problems[0].path, "a.dll");
    EXPECT_EQ(plan.entries[0].action, InstallAction::Mismatch);
  }
  // A source of the right size but other bytes is told by its MD5.
  FakeGame game;
  std::string sameSize = kOld;
  sameSize[3] ^= 0x20;
  game.Put("a.dll", sameSize);
  EXPECT_EQ(Refusals(patch.Plan(game, false)),
            std::vector<PlanProblemKind>{PlanProblemKind::SourceMismatch});
}

TEST(InstallPlan, ARenamedFilesSourceIsItsOldPath) {
  Patch patch(
      {Delta("lib\\core-2.dll", kOld, kNew, "lib\\core-1.dll"), Removal("lib\\core-1.dll", kOld)});
  FakeGame game;
  game.Put("lib\\core-1.dll", kOld);
  InstallPlan plan = PlanBoth(patch, game);
  EXPECT_TRUE(plan.problems.empty());
  EXPECT_EQ(plan.entries[0].action, InstallAction::Patch);
  EXPECT_EQ(plan.entries[0].source, "lib\\core-1.dll");
  EXPECT_EQ(plan.entries[1].action, InstallAction::Remove) << "removals come after the delta";

  game.Put("lib\\core-1.dll", kNew);
  plan = PlanBoth(patch, game);
  ASSERT_EQ(Refusals(plan), std::vector<PlanProblemKind>{PlanProblemKind::SourceMismatch});
  EXPECT_EQ(plan.problems[0].path, "lib\\core-1.dll");
}

// The case where the updater and mkpatch check once parted: a file an
// earlier entry writes is the source of a later delta. Even when that entry
// writes the very bytes the delta expects, the run would read its own
// result, and no later run could make the delta's file either.
TEST(InstallPlan, ASourceAnEarlierEntryWritesIsAPatchInTheWrongOrder) {
  for (const std::string& written : {kOld, std::string("another file")}) {
    Patch patch({Whole("lib\\core-1.dll", written),
                 Delta("lib\\core-2.dll", kOld, kNew, "lib\\core-1.dll")});
    FakeGame game;
    game.Put("lib\\core-1.dll", kOld);
    const InstallPlan plan = PlanBoth(patch, game);
    ASSERT_EQ(Refusals(plan), std::vector<PlanProblemKind>{PlanProblemKind::WrongOrder});
    EXPECT_EQ(plan.problems[0].entry, 1u);
    EXPECT_EQ(plan.problems[0].writer, 0u);
  }
  // A later entry that writes the source is no obstacle: it comes after.
  FakeGame game;
  Patch later({Delta("lib\\core-2.dll", kOld, kNew, "lib\\core-1.dll"),
               Whole("lib\\core-1.dll", "another file")});
  game.Put("lib\\core-1.dll", kOld);
  EXPECT_TRUE(Refusals(PlanBoth(later, game)).empty());
}

TEST(InstallPlan, LinksAndPathsTooLongRefuseWhereverTheRunWritesOrRemoves) {
  Patch patch({Whole("data\\x.dat", kNew), Delta("b.dll", kOld, kNew, "old\\b.dll"),
               Removal("gone\\c.dat", kOld)});
  FakeGame game;
  game.Put("old\\b.dll", kOld);
  game.Mark("data\\x.dat", GamePathState::Link);
  game.Mark("old\\b.dll", GamePathState::Link);
  game.Mark("gone\\c.dat", GamePathState::Link);
  InstallPlan plan = PlanBoth(patch, game);
  EXPECT_EQ(Refusals(plan), std::vector<PlanProblemKind>(3, PlanProblemKind::Link));
  EXPECT_EQ(plan.entries[0].action, InstallAction::Link);
  EXPECT_EQ(plan.entries[2].action, InstallAction::Link);

  // A written file needs room for its replacement copy's name; a source
  // that is only read does not.
  FakeGame narrow;
  narrow.Put("old\\b.dll", kOld);
  narrow.tooLongFrom = 12;  // "data\x.dat" and "b.dll" with 8 more do not fit
                            // "gone\c.dat", only removed, does
  plan = PlanBoth(patch, narrow);
  EXPECT_EQ(Refusals(plan), std::vector<PlanProblemKind>(2, PlanProblemKind::PathTooLong));
  EXPECT_EQ(plan.problems[0].entry, 0u);
  EXPECT_EQ(plan.problems[1].entry, 1u);
}

TEST(InstallPlan, AnUnreadableSourceRefusesButAnUnreadableTargetDoesNot) {
  Patch patch({Delta("a.dll", kOld, kNew), Whole("b.dll", kNew)});
  FakeGame game;
  game.Put("a.dll", kOld);
  game.BreakReading("a.dll");
  game.Put("b.dll", kNew);
  game.BreakReading("b.dll");
  const InstallPlan updater = patch.Plan(game, false);
  ASSERT_EQ(Refusals(updater), std::vector<PlanProblemKind>{PlanProblemKind::SourceUnreadable});
  EXPECT_EQ(updater.problems[0].systemError, 32u);
  EXPECT_EQ(updater.entries[1].action, InstallAction::Replace) << "written over, whatever it is";
  // The check says why the second would fail too.
  const InstallPlan check = patch.Plan(game, true);
  EXPECT_EQ(check.problems.back().kind, PlanProblemKind::Unreadable);
}

TEST(InstallPlan, OnlyFilesOfTheSizesComparedAreRead) {
  Patch patch({Delta("a.dll", kOld, kNew), Whole("b.dll", kNew)});
  FakeGame game;
  game.Put("a.dll", std::string(7, 'x'));
  game.Put("b.dll", std::string(9, 'y'));
  patch.Plan(game, false);
  EXPECT_EQ(game.digests, 0);
}

TEST(InstallPlan, TheCheckPredictsWhatWouldFailOnTheWay) {
  Patch patch({{"toplevel.tpk", "package"},
               {"plain.dll", "plain bytes"},
               Whole("ro.dll", kNew),
               Whole("dir.dll", kNew),
               Removal("kept.dat", kOld),
               Removal("old.dat", kOld),
               Removal("missing.dat", kOld)});
  FakeGame game;
  game.SetLauncher(false);
  game.Put("plain.dll", "plain bytes", true);
  game.Put("ro.dll", kOld, true);
  game.Mark("dir.dll", GamePathState::Directory);
  game.Put("kept.dat", "changed by the player");
  game.Put("old.dat", kOld, true);
  const InstallPlan check = PlanBoth(patch, game);
  std::vector<PlanProblemKind> kinds;
  for (const PlanProblem& problem : check.problems) kinds.push_back(problem.kind);
  EXPECT_EQ(kinds,
            (std::vector<PlanProblemKind>{
                PlanProblemKind::NoLauncher, PlanProblemKind::ReadOnly, PlanProblemKind::ReadOnly,
                PlanProblemKind::DirectoryInTheWay, PlanProblemKind::ReadOnly}));
  EXPECT_EQ(check.entries[0].action, InstallAction::Package);
  EXPECT_EQ(check.entries[4].action, InstallAction::Keep);
  EXPECT_EQ(check.entries[5].action, InstallAction::Remove);
  EXPECT_EQ(check.entries[6].action, InstallAction::Gone);
  // None of it stops the updater before its first write.
  EXPECT_TRUE(patch.Plan(game, false).problems.empty());
}

TEST(InstallPlan, AnEntryIsJudgedAgainstWhatAnEarlierOneLeaves) {
  Patch patch({{"a.dll", kNew}, Whole("A.DLL", kNew), {"b.dll", kOld}, Whole("b.dll", kNew)});
  FakeGame game;
  game.Put("b.dll", kNew);
  const InstallPlan check = PlanBoth(patch, game);
  EXPECT_EQ(check.entries[0].action, InstallAction::New);
  EXPECT_EQ(check.entries[1].action, InstallAction::Same) << "the plain entry wrote it";
  EXPECT_EQ(check.entries[2].action, InstallAction::Replace);
  EXPECT_EQ(check.entries[3].action, InstallAction::Replace) << "over the earlier entry's bytes";
}

// Several entries for one file: a delta from each old build's bytes, a step
// through a later build's bytes, and the file whole for anything else.
const std::string kMiddle = "the middle build's bytes of the file";

PayloadFile Step(const std::string& path, const std::string& old, const std::string& next) {
  EntryDescriptor step = DescribeFile(EntryKind::PathFile, EntryCoding::Delta, next, path);
  DescribeSource(step, old);
  step.flags = ENTRY_FLAG_STEP;
  return DescribedFile("s", step, "stored step bytes");
}

TEST(InstallPlan, AFileTakesTheWayFromWhateverOldBytesAreInstalled) {
  Patch patch({Step("a.dll", kOld, kMiddle), Delta("a.dll", kMiddle, kNew), Whole("a.dll", kNew),
               Whole("b.dll", "after")});
  struct Case {
    std::string installed;
    std::vector<InstallAction> actions;
    uint32_t next0;
  };
  using A = InstallAction;
  const std::vector<Case> cases = {
      {kOld, {A::Patch, A::Patch, A::Skip}, 1},  // the step, then the delta
      {kMiddle, {A::Skip, A::Patch, A::Skip}, NO_ENTRY},
      {kNew, {A::Same, A::Skip, A::Skip}, NO_ENTRY},
      {"changed by the player", {A::Skip, A::Skip, A::Replace}, NO_ENTRY},
      {"", {A::Skip, A::Skip, A::New}, NO_ENTRY},
  };
  for (const Case& c : cases) {
    FakeGame game;
    if (!c.installed.empty()) game.Put("A.DLL", c.installed);
    const InstallPlan plan = PlanBoth(patch, game);
    EXPECT_TRUE(plan.problems.empty()) << c.installed;
    for (size_t i = 0; i < c.actions.size(); ++i) {
      EXPECT_EQ(plan.entries[i].action, c.actions[i]) << c.installed << " entry " << i;
    }
    EXPECT_EQ(plan.entries[0].next, c.next0) << c.installed;
    const bool starts[3] = {c.installed == kOld, c.installed == kMiddle,
                            c.installed != kOld && c.installed != kMiddle && c.installed != kNew};
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(plan.entries[i].startsWay, starts[i]) << i;
  }
  // Without the file whole, other bytes refuse the run, naming the file.
  Patch deltasOnly({Step("a.dll", kOld, kMiddle), Delta("a.dll", kMiddle, kNew)});
  FakeGame changed;
  changed.Put("a.dll", "changed by the player");
  const InstallPlan refused = PlanBoth(deltasOnly, changed);
  ASSERT_EQ(Refusals(refused), std::vector<PlanProblemKind>{PlanProblemKind::SourceMismatch});
  EXPECT_EQ(refused.problems[0].path, "a.dll");
  EXPECT_EQ(refused.problems[0].entry, 0u);
}

// Whatever groups reach the planner, a way never ends in a step: the step's
// bytes would be installed as the file, and its MD5 would pass them.
TEST(InstallPlan, AWayThatEndsInAStepIsRefused) {
  for (const std::vector<PayloadFile>& files :
       {std::vector<PayloadFile>{Step("a.dll", kOld, kOld), Whole("a.dll", kNew)},
        std::vector<PayloadFile>{Whole("b.dll", kNew), Step("a.dll", kOld, kMiddle),
                                 Step("a.dll", kMiddle, kOld), Whole("a.dll", kNew)}}) {
    Patch patch(files);
    const uint32_t first = files.size() == 2 ? 0 : 1;
    FakeGame game;
    game.Put("a.dll", kOld);
    const InstallPlan plan = PlanBoth(patch, game);
    ASSERT_EQ(Refusals(plan), std::vector<PlanProblemKind>{PlanProblemKind::BrokenGroup});
    EXPECT_EQ(plan.problems[0].entry, first) << "named as the group is at reading";
    EXPECT_EQ(plan.problems[0].path, "a.dll");
    for (uint32_t i = first; i < plan.entries.size(); ++i) {
      EXPECT_NE(plan.entries[i].action, InstallAction::Patch) << i;
      EXPECT_EQ(plan.entries[i].next, NO_ENTRY) << i;
    }
  }
}

TEST(InstallPlan, AGroupsDeltasAreTriedWithTheirOwnSourcePaths) {
  // The base build had the file under its old name, the middle build under
  // the new one.
  Patch patch({Delta("lib\\core.dll", kOld, kNew, "lib\\core-1.dll"),
               Delta("lib\\core.dll", kMiddle, kNew)});
  FakeGame base;
  base.Put("lib\\core-1.dll", kOld);
  InstallPlan plan = PlanBoth(patch, base);
  EXPECT_EQ(plan.entries[0].action, InstallAction::Patch);
  EXPECT_EQ(plan.entries[0].source, "lib\\core-1.dll");
  FakeGame middle;
  middle.Put("lib\\core.dll", kMiddle);
  middle.Put("lib\\core-1.dll", "left behind");
  plan = PlanBoth(patch, middle);
  EXPECT_EQ(plan.entries[1].action, InstallAction::Patch);
  EXPECT_EQ(plan.entries[1].source, "lib\\core.dll");
  EXPECT_EQ(plan.entries[0].action, InstallAction::Skip);
}

TEST(EntryGroups, OneFilesEntriesMustLeadToOneFile) {
  const auto broken = [](const std::vector<PayloadFile>& files) {
    Patch patch(files);
    return FindBrokenGroup(patch.table.entries, patch.details,
                           GroupEntries(patch.table.entries, patch.details));
  };
  EXPECT_EQ(broken({Step("a.dll", kOld, kMiddle), Delta("a.dll", kMiddle, kNew),
                    Whole("a.dll", kNew), Removal("b.dll", kOld)}),
            NO_ENTRY);
  // Two results for one file.
  EXPECT_EQ(broken({Whole("x.dll", "x"), Whole("a.dll", kOld), Delta("A.DLL", kOld, kNew)}), 1u);
  // Two wholes, even of the same bytes.
  EXPECT_EQ(broken({Whole("a.dll", kNew), Whole("a.dll", kNew)}), 0u);
  // A step that no delta continues, and a file of steps only.
  EXPECT_EQ(broken({Step("a.dll", kOld, kMiddle), Delta("a.dll", kOld, kNew)}), 0u);
  EXPECT_EQ(broken({Step("a.dll", kOld, kMiddle), Step("a.dll", kMiddle, kOld)}), 0u);
  // Steps that only continue themselves or each other never reach the new
  // bytes, whatever else the file has.
  EXPECT_EQ(broken({Step("a.dll", kOld, kOld), Whole("a.dll", kNew)}), 0u);
  EXPECT_EQ(
      broken({Step("a.dll", kOld, kMiddle), Step("a.dll", kMiddle, kOld), Whole("a.dll", kNew)}),
      0u);
  EXPECT_EQ(
      broken({Delta("a.dll", kMiddle, kNew), Step("a.dll", kOld, kOld), Step("a.dll", kOld, kOld)}),
      0u);
  // A chain of steps that ends in a delta, in any order.
  EXPECT_EQ(broken({Delta("a.dll", kMiddle, kNew), Step("a.dll", "first", kOld),
                    Step("a.dll", kOld, kMiddle)}),
            NO_ENTRY);
  // A removal of a file the patch installs.
  EXPECT_EQ(broken({Whole("a.dll", kNew), Removal("A.dll", kOld)}), 1u);
  // Greek, Cyrillic and fullwidth letters have their case in code page 936
  // too: Ω.dll and ω.dll, Ж.dll and ж.dll, Ａ.dll and ａ.dll are one file.
  EXPECT_EQ(
      broken({Whole("x.dll", "x"), Whole("\xA6\xB8.dll", kOld), Delta("\xA6\xD8.dll", kOld, kNew)}),
      1u);
  EXPECT_EQ(broken({Whole("\xA7\xA8.dll", kNew), Removal("\xA7\xD8.dll", kOld)}), 1u);
  EXPECT_EQ(broken({Whole("\xA3\xE1.dll", kNew), Whole("\xA3\xC1.dll", kNew)}), 0u);
}

}  // namespace
