#include "mkpatch/write/progress_bar.h"

#include "mkpatch/fs/file_system.h"

ProgressBar::ProgressBar(const char* label, uint64_t total)
    : label_(label), total_(total), stream_(stderr) {
  enabled_ = total >= kMinimumTotal && IsTerminal(stream_);
  if (enabled_) Draw();
}

ProgressBar::~ProgressBar() {
  if (!enabled_) return;
  std::fputc('\n', stream_);
  std::fflush(stream_);
}

void ProgressBar::Advance(uint64_t bytes) {
  done_ += bytes;
  if (enabled_) Draw();
}

void ProgressBar::SetDone(uint64_t done) {
  if (done <= done_) return;
  done_ = done;
  if (enabled_) Draw();
}

void ProgressBar::Draw() {
  const int width = 40;
  uint64_t done = done_ < total_ ? done_ : total_;
  int percent = total_ ? static_cast<int>(done * 100 / total_) : 100;
  if (percent == shownPercent_) return;  // redraw only when the figure moves
  shownPercent_ = percent;
  char bar[width + 1];
  int filled = percent * width / 100;
  for (int i = 0; i < width; ++i) bar[i] = i < filled ? '#' : '.';
  bar[width] = '\0';
  std::fprintf(stream_, "\r%s [%s] %3d%% %llu/%llu MiB", label_, bar, percent,
               static_cast<unsigned long long>(done >> 20),
               static_cast<unsigned long long>(total_ >> 20));
  std::fflush(stream_);
}
