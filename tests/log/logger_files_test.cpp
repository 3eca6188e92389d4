// Daily file naming, rollover, appending, and a log folder that cannot be
// used.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "log_test_support.h"
#include "update/log/logger.h"

namespace {

class LogFileTest : public ScratchFolderTest {
 protected:
  // A quiet, synchronous log with a fake clock and the file prefix "t_".
  std::unique_ptr<Logger> MakeLog(const char* path = "t_") {
    std::unique_ptr<Logger> log(new Logger());
    log->SetClock(FakeClock::Get());
    log->Configure(path, false, true, false, true);
    return log;
  }
  StdoutPipe out;
};

TEST_F(LogFileTest, DefaultNameIsProgramPidAndUnpaddedYear) {
  Logger log;
  log.SetClock(FakeClock::Get());
  log.SetSynchronous(true);
  FakeClock::Set(987, 1, 2, 3, 4, 5);
  log.Info("x");
  std::string expected = "Log/log_tests_" + std::to_string(GetCurrentProcessId()) + "_9870102.log";
  EXPECT_STREQ(log.MainFile().path, expected.c_str());
  EXPECT_EQ(ReadWholeFile(expected), "\r\n0987-01-02 03:04:05 x");
}

TEST_F(LogFileTest, NothingLoggedMeansNoFolderAndNoFile) {
  { MakeLog(); }
  // Configure itself makes "Log/"; what matters is that no file appears.
  EXPECT_EQ(FindLogFile("t_"), "");
}

TEST_F(LogFileTest, MidnightClosesTheOldFileAndStartsANewOne) {
  auto log = MakeLog();
  FakeClock::Set(2026, 12, 7, 23, 59, 59);
  log->Info("before");
  FakeClock::Set(2026, 12, 8, 0, 0, 0);
  log->Info("after");
  // Exclusive access succeeds only once the log has let go of the file.
  HANDLE old =
      CreateFileA("Log/t_20261207.log", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(old, INVALID_HANDLE_VALUE);
  CloseHandle(old);
  log.reset();
  EXPECT_EQ(ReadWholeFile("Log/t_20261207.log"), "\r\n2026-12-07 23:59:59 before");
  EXPECT_EQ(ReadWholeFile("Log/t_20261208.log"), "\r\n2026-12-08 00:00:00 after");
}

TEST_F(LogFileTest, ExistingFileIsAppendedTo) {
  CreateDirectoryA("Log", nullptr);
  EXPECT_TRUE(WriteWholeFile("Log/t_20261207.log", "\r\nearlier run"));
  auto log = MakeLog();
  FakeClock::Set(2026, 12, 7, 8, 0, 0);
  log->Info("later run");
  log.reset();
  EXPECT_EQ(ReadWholeFile("Log/t_20261207.log"),
            "\r\nearlier run\r\n2026-12-07 08:00:00 later run");
}

TEST_F(LogFileTest, FolderNameTakenByAPlainFileDropsLinesUntilItIsFreed) {
  EXPECT_TRUE(WriteWholeFile("Log", "not a folder"));
  auto log = MakeLog();
  FakeClock::Set(2026, 12, 7, 8, 0, 0);
  log->Info("lost");
  EXPECT_EQ(log->MainFile().handle, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(FileExists("t_20261207.log"));
  ASSERT_TRUE(DeleteFileA("Log"));
  log->Info("kept");
  log.reset();
  EXPECT_EQ(ReadWholeFile("Log/t_20261207.log"), "\r\n2026-12-07 08:00:00 kept");
}

TEST_F(LogFileTest, UncreatableFolderPutsTheFileInTheCurrentFolder) {
  auto log = MakeLog("missing/deeper/t_");  // Log/missing/ does not exist
  FakeClock::Set(2026, 12, 7, 8, 0, 0);
  log->Info("here");
  log.reset();
  EXPECT_EQ(ReadWholeFile("t_20261207.log"), "\r\n2026-12-07 08:00:00 here");
}

TEST_F(LogFileTest, FailedWriteShowsTheNoticeAndLoggingGoesOn) {
  auto log = MakeLog();
  log->Configure("t_", true, true, false, false);  // console on, through the queue
  FakeClock::Set(2026, 12, 7, 8, 0, 0);
  log->Info("one");
  log->Info("two");
  log.reset();
  out.Drain();

  log = MakeLog();
  log->Configure("t_", true, true, false, true);
  log->Info("three");
  // Swap the handle for one that cannot write, as a vanished disk would.
  LogFile& file = log->MainFile();
  CloseHandle(file.handle);
  file.handle = CreateFileA(file.path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  log->Info("four");
  log->Info("five");
  log.reset();
  std::string notice = "<--- 该条日志写文件 Log/t_20261207.log 错误,err=5";
  EXPECT_EQ(out.Drain(), "\r\n2026-12-07 08:00:00 three\r\n2026-12-07 08:00:00 four" + notice +
                             "\r\n2026-12-07 08:00:00 five" + notice);
  EXPECT_EQ(ReadWholeFile("Log/t_20261207.log"),
            "\r\n2026-12-07 08:00:00 one\r\n2026-12-07 08:00:00 two\r\n2026-12-07 08:00:00 three");
}

TEST_F(LogFileTest, ErrFileTakesOnlyErrorsAndAbove) {
  auto log = MakeLog();
  log->Configure("t_", false, true, true, false);
  FakeClock::Set(2026, 12, 7, 8, 0, 0);
  log->Warn("w");
  log->Error("e");
  log->Write("six", 6);
  log.reset();
  EXPECT_EQ(ReadWholeFile("Log/t_20261207.err"),
            "\r\n2026-12-07 08:00:00 e  <-------错误\r\n2026-12-07 08:00:00 six");
  EXPECT_EQ(SplitLogLines(ReadWholeFile("Log/t_20261207.log")).size(), 3u);
}

}  // namespace
