// The dialog's side of the progress reports: one bar, one status line.
#pragma once

#include <cstdint>

// Where a report puts the bar (0..100 for the codes the updater sends), or
// false for a code that leaves bar and status line alone.
bool ProgressPositionFor(uint32_t code, uint32_t a, uint32_t b, uint32_t* position);

// The ProgressCallback the worker registers. Runs on the worker thread and
// updates the controls of g_hMainDlg by sent messages, through the handles in
// g_progressControls when they were taken from that window.
void OnUpdateProgress(uint32_t userValue, uint32_t code, uint32_t a, uint32_t b);

// Moves bar IDC_PROGRESS_FILE or IDC_PROGRESS_TOTAL of g_hMainDlg and repaints
// it at once; other identifiers are ignored. Always 0.
int SetProgressPos(int controlId, int position);
