// A stream written as a sequence of zstd frames of fixed content size, each
// compressed on its own, two at a time on worker threads while the caller
// goes on producing the stream. The insertions of a large delta are mostly
// new content and take most of its time at the strong levels; frames of
// 16 MiB cost under 0.1 % more bytes than one frame (the window is 16 MiB
// anyway) and use both cores. Where the frames are cut depends on the byte
// count alone, so the bytes are the same whatever the threads do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <future>
#include <vector>

class FramedWriter {
 public:
  static constexpr size_t kFrameContent = size_t(16) << 20;

  explicit FramedWriter(int level) : level_(level) {}
  ~FramedWriter();
  FramedWriter(const FramedWriter&) = delete;
  FramedWriter& operator=(const FramedWriter&) = delete;

  void Add(const unsigned char* data, size_t size);
  // The frames in order; nothing at all for an empty stream.
  std::vector<unsigned char> Finish();

 private:
  void Submit();

  int level_;
  std::vector<unsigned char> pending_;
  std::deque<std::future<std::vector<unsigned char>>> running_;
  std::vector<unsigned char> done_;
};
