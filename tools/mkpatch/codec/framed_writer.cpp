#include "mkpatch/codec/framed_writer.h"

#include "mkpatch/codec/zstd_encode.h"

namespace {

// The workers besides the caller's thread: the machines mkpatch runs on have
// two cores at least, and each frame in flight holds its level's tables.
constexpr size_t kWorkers = 2;

}  // namespace

FramedWriter::~FramedWriter() {
  // Frames still compressing when an exception unwinds are waited for.
  for (auto& frame : running_) {
    if (frame.valid()) frame.wait();
  }
}

void FramedWriter::Add(const unsigned char* data, size_t size) {
  while (size > 0) {
    const size_t room = kFrameContent - pending_.size();
    const size_t take = size < room ? size : room;
    pending_.insert(pending_.end(), data, data + take);
    data += take;
    size -= take;
    if (pending_.size() == kFrameContent) Submit();
  }
}

void FramedWriter::Submit() {
  if (running_.size() == kWorkers) {
    const std::vector<unsigned char> frame = running_.front().get();
    running_.pop_front();
    done_.insert(done_.end(), frame.begin(), frame.end());
  }
  running_.push_back(
      std::async(std::launch::async, [content = std::move(pending_), level = level_] {
        return CompressZstd(content.data(), content.size(), level, ZstdFrame::Magicless);
      }));
  pending_.clear();
}

std::vector<unsigned char> FramedWriter::Finish() {
  if (!pending_.empty()) Submit();
  while (!running_.empty()) {
    const std::vector<unsigned char> frame = running_.front().get();
    running_.pop_front();
    done_.insert(done_.end(), frame.begin(), frame.end());
  }
  return std::move(done_);
}
