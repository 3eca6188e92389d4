// Colours on a real console screen buffer: error and warning lines in their
// colour on the start-up background, the start-up colour back afterwards.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "log_test_support.h"
#include "update/log/logger.h"

namespace {

class ConsoleColourTest : public ScratchFolderTest {
 protected:
  void SetUp() override {
    ScratchFolderTest::SetUp();
    // A test run under ctest has no usable console; make a fresh one.
    FreeConsole();
    ASSERT_TRUE(AllocConsole());
    buffer =
        CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
    ASSERT_NE(buffer, INVALID_HANDLE_VALUE);
    // Wine's console host needs a display; without one every call fails.
    if (!SetConsoleTextAttribute(buffer, kStartUp)) GTEST_SKIP() << "no working console here";
    previous = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, buffer);
  }
  void TearDown() override {
    SetStdHandle(STD_OUTPUT_HANDLE, previous);
    CloseHandle(buffer);
    FreeConsole();
    ScratchFolderTest::TearDown();
  }
  std::vector<WORD> Attributes(SHORT row, DWORD count) {
    std::vector<WORD> cells(count);
    DWORD read = 0;
    COORD at = {0, row};
    ReadConsoleOutputAttribute(buffer, cells.data(), count, at, &read);
    cells.resize(read);
    return cells;
  }
  std::string Characters(SHORT row, DWORD count) {
    std::string text(count, '\0');
    DWORD read = 0;
    COORD at = {0, row};
    ReadConsoleOutputCharacterA(buffer, &text[0], count, at, &read);
    text.resize(read);
    return text;
  }
  static constexpr WORD kStartUp =
      BACKGROUND_BLUE | FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE;
  HANDLE buffer = INVALID_HANDLE_VALUE;
  HANDLE previous = nullptr;
};

TEST_F(ConsoleColourTest, LevelsShowInTheirColoursOnTheStartUpBackground) {
  {
    Logger log;
    log.SetClock(FakeClock::Get());
    log.Configure("t_", true, false, false, false);
    FakeClock::Set(2026, 12, 7, 21, 35, 17);
    log.Error("x");
    log.Warn("w");
    log.Info("i");
  }
  const DWORD width = 21;  // the stamp, a blank and the one-letter message
  EXPECT_EQ(Characters(1, width), "2026-12-07 21:35:17 x");
  EXPECT_EQ(Attributes(1, width), std::vector<WORD>(width, BACKGROUND_BLUE | 0x0C));
  EXPECT_EQ(Attributes(2, width), std::vector<WORD>(width, BACKGROUND_BLUE | 0x0E));
  EXPECT_EQ(Characters(3, width), "2026-12-07 21:35:17 i");
  EXPECT_EQ(Attributes(3, width), std::vector<WORD>(width, kStartUp));
  CONSOLE_SCREEN_BUFFER_INFO info;
  ASSERT_TRUE(GetConsoleScreenBufferInfo(buffer, &info));
  EXPECT_EQ(info.wAttributes, kStartUp);
}

}  // namespace
