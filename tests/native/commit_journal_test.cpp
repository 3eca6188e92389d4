// The commit journal's text: what a killed run leaves for the next one.
#include "update/plan/commit_journal.h"

#include <gtest/gtest.h>

namespace {

const char kDigest[] = "0123456789abcdef0123456789abcdef";

CommitJournal Sample() {
  CommitJournal journal;
  journal.patch = kDigest;
  journal.targetVersion = "1.4.1.34242";
  journal.state = CommitState::Rollback;
  journal.steps = {{CommitOp::Replace, "data\\big file.dat"},
                   {CommitOp::Add, "\xD3\xCE\xCF\xB7\\new.dll"},  // GBK 游戏
                   {CommitOp::Remove, "old\\gone.txt"}};
  return journal;
}

TEST(CommitJournal, EveryStateAndStepReadsBackAsWritten) {
  for (CommitState state : {CommitState::Commit, CommitState::Rollback, CommitState::Done}) {
    CommitJournal journal = Sample();
    journal.state = state;
    const std::string text = FormatJournal(journal);
    CommitJournal read;
    ASSERT_TRUE(ParseJournal(text, &read)) << text;
    EXPECT_EQ(read.patch, journal.patch);
    EXPECT_EQ(read.targetVersion, journal.targetVersion);
    EXPECT_EQ(read.state, state);
    ASSERT_EQ(read.steps.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(read.steps[i].op, journal.steps[i].op);
      EXPECT_EQ(read.steps[i].path, journal.steps[i].path);
    }
  }
  EXPECT_EQ(FormatJournal(Sample()),
            std::string("journal 1\npatch ") + kDigest +
                " 1.4.1.34242\nstate rollback\nreplace data\\big file.dat\n"
                "add \xD3\xCE\xCF\xB7\\new.dll\nremove old\\gone.txt\n");
}

// A journal is acted on only when every line is understood: a step the
// reader cannot take, or a path that leaves the game directory, would undo
// or finish the wrong files.
TEST(CommitJournal, AnythingNotUnderstoodWholeIsRefused) {
  const std::string good = FormatJournal(Sample());
  CommitJournal read;
  const std::string refused[] = {
      "",
      "journal 2\npatch " + std::string(kDigest) + " 1.0\nstate commit\n",
      "journal 1\npatch " + std::string(kDigest) + " 1.0\n",
      "journal 1\npatch 0123 1.0\nstate commit\n",
      "journal 1\npatch " + std::string(kDigest) + "\nstate commit\n",
      "journal 1\npatch 0123456789ABCDEF0123456789ABCDEF 1.0\nstate commit\n",
      "journal 1\npatch " + std::string(kDigest) + " 1.0\nstate halfway\n",
      "journal 1\npatch " + std::string(kDigest) + " 1.0\nstate commit\nmove a.txt\n",
      "journal 1\npatch " + std::string(kDigest) + " 1.0\nstate commit\nreplace ..\\a.txt\n",
      "journal 1\npatch " + std::string(kDigest) + " 1.0\nstate commit\nreplace C:\\a.txt\n",
      "journal 1\npatch " + std::string(kDigest) + " 1.0\nstate commit\nremove \n",
      good.substr(0, good.size() - 1),  // cut short in its last line
      std::string("journal 1\npatch ") + kDigest + " 1.0\nstate commit\nadd a\0b\n",
  };
  for (const std::string& text : refused) {
    EXPECT_FALSE(ParseJournal(text, &read)) << text;
  }
  const std::string noSteps = "journal 1\npatch " + std::string(kDigest) + " 1.0\nstate done\n";
  ASSERT_TRUE(ParseJournal(noSteps, &read));
  EXPECT_TRUE(read.steps.empty());
  EXPECT_EQ(read.state, CommitState::Done);
}

}  // namespace
