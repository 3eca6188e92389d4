// A one-line progress bar on stderr for long builds and extractions. Stays
// silent unless stderr is a terminal and the job is large, so scripts and
// logs never see it.
#pragma once

#include <cstdint>
#include <cstdio>

class ProgressBar {
 public:
  ProgressBar(const char* label, uint64_t total);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void Advance(uint64_t bytes);
  // For work that reports how far it has come rather than each step.
  uint64_t Done() const { return done_; }
  void SetDone(uint64_t done);

  // Below this many bytes a job is over too soon for a bar to help.
  static constexpr uint64_t kMinimumTotal = 16ull * 1024 * 1024;

 private:
  void Draw();

  const char* label_;
  uint64_t total_;
  uint64_t done_ = 0;
  int shownPercent_ = -1;
  bool enabled_;
  FILE* stream_;
};
