// Verdicts on how a run of the updater ended, with the whole outcome in the
// failure message.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "updater_driver.h"

inline std::string Describe(const UpdaterOutcome& outcome) {
  std::string text = outcome.exited ? "exit " + std::to_string(outcome.exitCode) : "still running";
  for (const SeenMessageBox& box : outcome.boxes) text += "; box [" + box.caption + "] " + box.text;
  return text;
}

// Ended with exit code 2 after exactly one warning box showing `text`.
inline ::testing::AssertionResult RefusedWith(const UpdaterOutcome& outcome,
                                              const std::string& text) {
  if (outcome.exited && outcome.exitCode == 2 && outcome.boxes.size() == 1 &&
      outcome.boxes[0].caption == "更新补丁提示" && outcome.boxes[0].text == text) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << Describe(outcome);
}

// Ended without showing any box.
inline ::testing::AssertionResult EndedSilently(const UpdaterOutcome& outcome) {
  if (outcome.exited && outcome.boxes.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << Describe(outcome);
}

// Ended after exactly the boxes showing `texts`, in this order.
inline ::testing::AssertionResult EndedAfterBoxes(const UpdaterOutcome& outcome,
                                                  std::initializer_list<std::string> texts) {
  bool same = outcome.exited && outcome.boxes.size() == texts.size();
  size_t i = 0;
  for (const std::string& text : texts) {
    if (!same) break;
    same = outcome.boxes[i].caption == "更新补丁提示" && outcome.boxes[i].text == text;
    ++i;
  }
  if (same) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << Describe(outcome);
}
