// The progress arithmetic, and what a report does to a real bar and status
// line (a window of the test's own, standing in for the dialog).
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "update/session/progress.h"
#include "update/ui/globals.h"
#include "update/ui/progress_display.h"
#include "update/ui/resource.h"
#include "update/ui/update_worker.h"

namespace {

uint32_t PositionFor(uint32_t code, uint32_t a, uint32_t b) {
  uint32_t position = 12345;
  EXPECT_TRUE(ProgressPositionFor(code, a, b, &position)) << "code " << code;
  return position;
}

TEST(ProgressPosition, ExtractBytesCountsWhatIsWritten) {
  EXPECT_EQ(PositionFor(PG_EXTRACT_BYTES, 4096, 4096), 0u);
  EXPECT_EQ(PositionFor(PG_EXTRACT_BYTES, 0, 4096), 100u);
  EXPECT_EQ(PositionFor(PG_EXTRACT_BYTES, 10000000, 21477662), 53u);
  // 49,999,999 x 100 does not fit 32 bits; a 32-bit product would show 14.
  EXPECT_EQ(PositionFor(PG_EXTRACT_BYTES, 1, 50000000), 99u);
  EXPECT_EQ(PositionFor(PG_EXTRACT_BYTES, 0, 0xFFFFFFFFu), 100u);
}

TEST(ProgressPosition, PercentWrapsLikeThirtyTwoBitArithmetic) {
  EXPECT_EQ(PositionFor(PG_PERCENT, 50, 200), 25u);
  // 5,000,000,000 mod 2^32 = 705,032,704.
  EXPECT_EQ(PositionFor(PG_PERCENT, 50000000, 100000000), 7u);
}

TEST(ProgressPosition, BeginEmptiesEndFills) {
  EXPECT_EQ(PositionFor(PG_EXTRACT_BEGIN, 1, 3), 0u);
  EXPECT_EQ(PositionFor(PG_INSTALL_BEGIN, 2, 3), 0u);
  EXPECT_EQ(PositionFor(PG_EXTRACT_END, 1, 3), 100u);
  EXPECT_EQ(PositionFor(PG_INSTALL_END, 3, 3), 100u);
}

TEST(ProgressPosition, EmptyTotalCountsAsCompleteWithoutFault) {
  EXPECT_EQ(PositionFor(PG_PERCENT, 0, 0), 100u);
  EXPECT_EQ(PositionFor(PG_PERCENT, 7, 0), 100u);
  EXPECT_EQ(PositionFor(PG_EXTRACT_BYTES, 0, 0), 100u);
}

TEST(ProgressPosition, OtherCodesAreNotPositions) {
  uint32_t position = 77;
  EXPECT_FALSE(ProgressPositionFor(7, 1, 2, &position));
  EXPECT_FALSE(ProgressPositionFor(1006, 1, 2, &position));
  EXPECT_FALSE(ProgressPositionFor(0, 1, 2, &position));
  EXPECT_EQ(position, 77u);
}

// A popup with the bar and the status line under the dialog's identifiers.
class ProgressWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    dialog_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 400, 100, nullptr, nullptr, nullptr,
                              nullptr);
    bar_ = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 0, 40, 300, 20, dialog_,
                           reinterpret_cast<HMENU>(IDC_PROGRESS_FILE), nullptr, nullptr);
    status_ = CreateWindowExA(0, "STATIC", "start", WS_CHILD | WS_VISIBLE, 0, 0, 300, 20, dialog_,
                              reinterpret_cast<HMENU>(IDC_STATUS), nullptr, nullptr);
    ASSERT_TRUE(dialog_ && bar_ && status_);
    SendMessageA(bar_, PBM_SETRANGE, 0, 6553601);
    // As the dialog sets itself up.
    g_hMainDlg = dialog_;
    g_progressControls = LookUpProgressControls(dialog_);
  }
  void TearDown() override {
    g_hMainDlg = nullptr;
    g_progressControls = ProgressControls();
    DestroyWindow(dialog_);
  }

  int BarPos() const { return static_cast<int>(SendMessageA(bar_, PBM_GETPOS, 0, 0)); }
  int BarMinimum() const { return static_cast<int>(SendMessageA(bar_, PBM_GETRANGE, TRUE, 0)); }
  std::string Status() const {
    char text[100] = {};
    GetWindowTextA(status_, text, sizeof(text));
    return text;
  }

  HWND dialog_ = nullptr;
  HWND bar_ = nullptr;
  HWND status_ = nullptr;
};

TEST_F(ProgressWindow, ExtractionMovesBarAndNamesTheStep) {
  OnUpdateProgress(0, PG_EXTRACT_BEGIN, 1, 2);
  EXPECT_EQ(Status(), "正在提取文件");
  EXPECT_EQ(BarPos(), BarMinimum());

  OnUpdateProgress(0, PG_EXTRACT_BYTES, 1, 50000000);
  EXPECT_EQ(BarPos(), 99);
  EXPECT_EQ(Status(), "正在提取文件");

  OnUpdateProgress(0, PG_EXTRACT_END, 1, 2);
  EXPECT_EQ(BarPos(), 100);
  EXPECT_EQ(Status(), "正在提取文件");
}

TEST_F(ProgressWindow, InstallationEmptiesThenFillsTheBar) {
  OnUpdateProgress(0, PG_EXTRACT_END, 1, 1);
  OnUpdateProgress(0, PG_INSTALL_BEGIN, 1, 1);
  EXPECT_EQ(Status(), "正在加入文件");
  EXPECT_EQ(BarPos(), BarMinimum());
  OnUpdateProgress(0, PG_INSTALL_END, 1, 1);
  EXPECT_EQ(BarPos(), 100);
  EXPECT_EQ(Status(), "正在加入文件");
}

TEST_F(ProgressWindow, UnknownCodeAndUserValueChangeNothing) {
  OnUpdateProgress(0, PG_EXTRACT_BYTES, 60, 100);
  ASSERT_EQ(BarPos(), 40);
  OnUpdateProgress(0, 7, 1, 2);
  EXPECT_EQ(BarPos(), 40);
  EXPECT_EQ(Status(), "start");

  OnUpdateProgress(0xDEADBEEF, PG_EXTRACT_BYTES, 25, 100);
  EXPECT_EQ(BarPos(), 75);
  OnUpdateProgress(0xDEADBEEF, PG_INSTALL_BEGIN, 1, 1);
  EXPECT_EQ(Status(), "正在加入文件");
}

TEST_F(ProgressWindow, SetProgressPosTakesOnlyTheTwoBars) {
  EXPECT_EQ(SetProgressPos(IDC_PROGRESS_FILE, 30), 0);
  EXPECT_EQ(BarPos(), 30);
  EXPECT_EQ(SetProgressPos(IDC_STATUS, 80), 0);
  EXPECT_EQ(SetProgressPos(IDC_PROGRESS_TOTAL, 80), 0);  // no such control: no effect
  EXPECT_EQ(BarPos(), 30);
  EXPECT_EQ(Status(), "start");
}

TEST_F(ProgressWindow, ControlsAreTakenByTheirIdentifiers) {
  EXPECT_EQ(g_progressControls.dialog, dialog_);
  EXPECT_EQ(g_progressControls.fileBar, bar_);
  EXPECT_EQ(g_progressControls.status, status_);
  EXPECT_EQ(g_progressControls.totalBar, nullptr);
  const ProgressControls none = LookUpProgressControls(nullptr);
  EXPECT_TRUE(none.dialog == nullptr && none.fileBar == nullptr && none.status == nullptr);
}

// Reports go to the handles taken at set-up, not to whatever carries the
// identifiers at the time: once the controls are renumbered, only sending to
// the handles still reaches them.
TEST_F(ProgressWindow, ReportsSendToTheHandlesTakenAtSetUp) {
  SetWindowLongPtrA(bar_, GWLP_ID, 4001);
  SetWindowLongPtrA(status_, GWLP_ID, 4002);
  OnUpdateProgress(0, PG_EXTRACT_BEGIN, 1, 1);
  EXPECT_EQ(Status(), "正在提取文件");
  OnUpdateProgress(0, PG_EXTRACT_BYTES, 30, 100);
  EXPECT_EQ(BarPos(), 70);
  EXPECT_EQ(SetProgressPos(IDC_PROGRESS_FILE, 20), 0);
  EXPECT_EQ(BarPos(), 20);
}

// A window set without its controls (a stand-in, or a dialog that replaced
// the one they came from) is looked up by identifiers, as before.
TEST_F(ProgressWindow, AWindowWithoutTakenControlsIsLookedUp) {
  g_progressControls = ProgressControls();
  OnUpdateProgress(0, PG_INSTALL_BEGIN, 1, 1);
  EXPECT_EQ(Status(), "正在加入文件");
  OnUpdateProgress(0, PG_EXTRACT_BYTES, 10, 100);
  EXPECT_EQ(BarPos(), 90);

  SetWindowLongPtrA(bar_, GWLP_ID, 4001);  // the identifier no longer names the bar
  OnUpdateProgress(0, PG_EXTRACT_BYTES, 60, 100);
  EXPECT_EQ(BarPos(), 90);
}

TEST_F(ProgressWindow, ReportsWithoutADialogGoNowhere) {
  g_hMainDlg = nullptr;  // the controls taken from the dialog no longer count
  OnUpdateProgress(0, PG_EXTRACT_BEGIN, 1, 1);
  OnUpdateProgress(0, PG_EXTRACT_BYTES, 1, 2);
  EXPECT_EQ(Status(), "start");
  EXPECT_EQ(BarPos(), BarMinimum());
}

TEST_F(ProgressWindow, SecondWorkerDuringARunLeavesEverythingAlone) {
  SendMessageA(bar_, PBM_SETPOS, 42, 0);
  g_bUpdating = true;
  EXPECT_EQ(UpdateWorkerProc(dialog_), 1u);
  EXPECT_TRUE(g_bUpdating);  // the run in progress keeps its claim
  g_bUpdating = false;
  EXPECT_EQ(BarPos(), 42);
  MSG message;
  EXPECT_FALSE(
      PeekMessageA(&message, nullptr, WM_UPDATE_RUN_ENDED, WM_UPDATE_RUN_ENDED, PM_REMOVE));
}

}  // namespace
