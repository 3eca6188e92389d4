// Levels, filters, line formats and suffixes, as they reach file and console.
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "log_test_support.h"
#include "update/log/logger.h"

namespace {

const char kStamp[] = "2026-12-07 21:35:17";
std::vector<int> g_callbackLevels;

class LogLinesTest : public ScratchFolderTest {
 protected:
  void SetUp() override {
    ScratchFolderTest::SetUp();
    FakeClock::Set(2026, 12, 7, 21, 35, 17);
    g_callbackLevels.clear();
    log.reset(new Logger());
    log->SetClock(FakeClock::Get());
  }
  // Ends the log (draining its queue) and returns what the file holds.
  std::string Finish() {
    log.reset();
    return ReadWholeFile("Log/t_20261207.log");
  }
  std::string Line(const std::string& text) { return "\r\n" + std::string(kStamp) + " " + text; }
  StdoutPipe out;
  std::unique_ptr<Logger> log;
};

TEST_F(LogLinesTest, EachLevelGoesWhereItsTableSays) {
  log->Configure("t_", true, true, false, false);
  log->SetLevelCallback([](int level) { g_callbackLevels.push_back(level); });
  for (int level = -1; level <= 6; ++level)
    log->Write(("L" + std::to_string(level)).c_str(), level);
  std::string file = Finish();
  EXPECT_EQ(file, Line("L2") + Line("L3  <-------警告") + Line("L4  <-------错误") +
                      Line("L5  <-------严重关注") + Line("L6"));
  EXPECT_EQ(out.Drain(), Line("L-1") + Line("L0") + Line("L1") + file);
  EXPECT_EQ(g_callbackLevels, (std::vector<int>{-1, 2, 3, 4, 5, 6}));
}

TEST_F(LogLinesTest, ConsoleOffSilencesOnlyLevelsTwoAndThree) {
  log->Configure("t_", false, true, false, false);
  log->SetLevelCallback([](int level) { g_callbackLevels.push_back(level); });
  for (int level = 0; level <= 6; ++level) log->Write(("L" + std::to_string(level)).c_str(), level);
  std::string file = Finish();
  EXPECT_EQ(SplitLogLines(file).size(), 5u);
  EXPECT_EQ(out.Drain(), Line("L0") + Line("L1") + Line("L4  <-------错误") +
                             Line("L5  <-------严重关注") + Line("L6"));
  EXPECT_EQ(g_callbackLevels, (std::vector<int>{4, 5, 6}));
}

TEST_F(LogLinesTest, FileOffWritesNoLineAndAllOffFiltersTheFormatCalls) {
  log->Configure("t_", true, false, false, false);
  log->Error("e");
  EXPECT_EQ(Finish(), "");
  out.Drain();
  log.reset(new Logger());
  log->Configure("t_", false, false, false, false);
  log->Info("i");
  log->Critical("%d", 5);
  log->Log(LOG_STATUS, "s");
  log->Write("direct", LOG_STATUS);  // Write itself filters nothing
  log.reset();
  EXPECT_EQ(SplitLogLines(out.Drain()).size(), 1u);
}

TEST_F(LogLinesTest, FinishedTextsKeepTheirPercentSigns) {
  log->Configure("t_", false, true, false, false);
  log->Info("100% done %s %d");
  log->Error("%s", "a%sb%n");
  log->Info("%d-%s", 5, "z");
  log->Logf(LOG_WARN, "%03d", 7);
  log->Info(static_cast<const char*>(nullptr));
  log->Logf(LOG_INFO, nullptr);
  EXPECT_EQ(Finish(), Line("100% done %s %d") + Line("a%sb%n  <-------错误") + Line("5-z") +
                          Line("007  <-------警告"));
}

TEST_F(LogLinesTest, LongFormattedMessageIsCutAtAWholeCharacter) {
  log->Configure("t_", false, true, false, false);
  std::string wide;
  for (int i = 0; i < 2500; ++i) wide += "中";  // 5000 bytes
  log->Info("%s", wide.c_str());
  std::string rawLong(100000, 'r');
  log->Write(rawLong.c_str(), LOG_INFO);  // Write has no such limit
  std::vector<std::string> lines = SplitLogLines(Finish());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::string(kStamp) + " " + wide.substr(0, 4094));
  EXPECT_EQ(lines[1], std::string(kStamp) + " " + rawLong);
}

TEST_F(LogLinesTest, SilenceNoticePrecedesALineAfterAQuietGap) {
  log->Configure("t_", false, true, false, false);
  FakeClock::seconds = 1000;
  log->Info("first");  // silence notice still off
  log->SetSilenceNotice(60);
  FakeClock::seconds = 1010;
  log->Info("soon");
  FakeClock::seconds = 1085;
  log->Info("late");
  EXPECT_EQ(Finish(), Line("first") + Line("soon") +
                          Line("请注意,之前75秒无LOG输出  <-------警告") + Line("late"));
}

TEST_F(LogLinesTest, StreamLogsOnlyWhatWasWrittenSinceItsRewind) {
  log->Configure("t_", false, true, false, false);
  std::ostringstream stream;
  stream << "hello world";
  log->LogStream(LOG_INFO, stream);
  stream << "bye";
  log->LogStream(LOG_INFO, stream);
  EXPECT_EQ(Finish(), Line("hello world") + Line("bye"));
}

TEST_F(LogLinesTest, StatusLineModeOverwritesTheConsoleLine) {
  log->Configure("t_", true, true, false, false);
  log->InitConsole(true);
  log->Status("p");
  log->Raw("r");
  log->Info("i");
  std::string file = Finish();
  EXPECT_EQ(out.Drain(),
            "\r" + std::string(56, ' ') + "\r" + kStamp + " p" + "r" + "\r" + kStamp + " i\n");
  EXPECT_EQ(file, "\r" + std::string(kStamp) + " i\n");
}

}  // namespace
