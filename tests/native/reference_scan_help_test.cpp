// The reference scan with a worker thread: a large code section is walked in
// two halves at once, joined where their instructions meet. Whatever the
// worker does (runs the half, fails to start, never runs it) and wherever
// the halves meet or do not, the references are those of one walk.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

#include "pe_image_maker.h"
#include "update/base/standard_worker_thread.h"
#include "update/codec/pe_layout.h"
#include "update/codec/pe_references.h"

namespace {

// Cannot start a thread.
class RefusingWorker : public WorkerThread {
 public:
  bool Start(Task, void*) override { return false; }
  void Wait() override {}
};

// Says it started the task and never runs it.
class IdleWorker : public WorkerThread {
 public:
  bool Start(Task, void*) override { return true; }
  void Wait() override {}
};

// The image's bytes; remembers the furthest byte of the code section the
// scanning thread itself (not the worker) read.
class WatchedSource : public ByteSource {
 public:
  WatchedSource(const Bytes& bytes, uint64_t codeBegin, uint64_t codeEnd)
      : bytes_(bytes),
        codeBegin_(codeBegin),
        codeEnd_(codeEnd),
        caller_(std::this_thread::get_id()) {}

  uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) override {
    *bytesRead = 0;
    if (offset >= bytes_.size()) return true;
    const uint32_t got = static_cast<uint32_t>(std::min<uint64_t>(length, bytes_.size() - offset));
    std::copy(bytes_.begin() + offset, bytes_.begin() + offset + got,
              static_cast<unsigned char*>(buffer));
    *bytesRead = got;
    if (std::this_thread::get_id() == caller_ && offset < codeEnd_ && offset + got > codeBegin_) {
      std::lock_guard<std::mutex> hold(lock_);
      callerReachedCode_ = std::max<uint64_t>(callerReachedCode_, std::min(offset + got, codeEnd_));
    }
    return true;
  }
  uint64_t CallerReachedCode() {
    std::lock_guard<std::mutex> hold(lock_);
    return callerReachedCode_;
  }

 private:
  const Bytes& bytes_;
  uint64_t codeBegin_, codeEnd_;
  std::thread::id caller_;
  std::mutex lock_;
  uint64_t callerReachedCode_ = 0;
};

PeLayout LayoutOf(const Bytes& image) {
  PeLayout layout;
  EXPECT_TRUE(ParsePeLayout(image.data(), std::min<size_t>(image.size(), PE_HEADERS_READ),
                            image.size(), &layout));
  return layout;
}

const PeSection& CodeOf(const PeLayout& layout) {
  return *std::find_if(layout.sections.begin(), layout.sections.end(),
                       [](const PeSection& section) { return section.code; });
}

struct Scan {
  ReferenceScan status;
  std::vector<uint64_t> references;  // location, kind and target of each
  uint64_t callerReachedCode;
};

Scan ScanWith(const Bytes& image, WorkerThread* worker, uint64_t splitFrom, uint32_t meetWithin) {
  const PeLayout layout = LayoutOf(image);
  const PeSection& code = CodeOf(layout);
  WatchedSource source(image, code.rawOffset, code.rawOffset + MappedSize(code));
  ReferenceScanHelp help;
  help.worker = worker;
  help.splitFrom = splitFrom;
  help.meetWithin = meetWithin;
  GrowableArray<PeReference> found;
  Scan scan;
  scan.status = FindPeReferences(source, layout, &found, help);
  for (const PeReference& r : found)
    scan.references.push_back(uint64_t(r.location) << 32 | r.packed);
  scan.callerReachedCode = source.CallerReachedCode();
  return scan;
}

TEST(ReferenceScanHelp, TwoHalvesFindWhatOneWalkFinds) {
  InlineWorkerThread inline_;
  RefusingWorker refusing;
  IdleWorker idle;
  StandardWorkerThread thread;
  for (bool x64 : {false, true}) {
    for (uint32_t seed = 1; seed <= 3; ++seed) {
      ImageRecipe recipe;
      recipe.x64 = x64;
      recipe.seed = seed;
      recipe.functions = 2000;
      const MadeImage image = MakeImage(recipe);
      const Scan alone = ScanWith(image.bytes, nullptr, 0, 0);
      ASSERT_EQ(alone.status, ReferenceScan::Done);
      ASSERT_EQ(alone.references.size(), image.references.size());
      for (WorkerThread* worker : std::vector<WorkerThread*>{&inline_, &refusing, &idle, &thread}) {
        // Halves that meet at once, and (a few bytes to meet in) mostly not.
        for (uint32_t meetWithin : {16u * 1024, 3u}) {
          SCOPED_TRACE(testing::Message()
                       << (x64 ? "x64" : "x86") << ", seed " << seed << ", worker "
                       << (worker == &inline_    ? "inline"
                           : worker == &refusing ? "refusing"
                           : worker == &idle     ? "idle"
                                                 : "thread")
                       << ", meeting within " << meetWithin);
          const Scan split = ScanWith(image.bytes, worker, 4096, meetWithin);
          EXPECT_EQ(split.status, ReferenceScan::Done);
          EXPECT_TRUE(split.references == alone.references);
        }
      }
    }
  }
}

TEST(ReferenceScanHelp, TheScanningThreadReadsOnlyTheFirstHalfOfTheCode) {
  ImageRecipe recipe;
  recipe.x64 = true;
  recipe.functions = 12000;
  const MadeImage image = MakeImage(recipe);
  const PeSection code = CodeOf(LayoutOf(image.bytes));
  const uint64_t begin = code.rawOffset, end = begin + MappedSize(code);
  const uint64_t middle = begin + (end - begin) / 2;
  ASSERT_GT(end - begin, 8 * 64 * 1024u);
  StandardWorkerThread thread;
  const Scan alone = ScanWith(image.bytes, nullptr, 0, 0);
  const Scan split = ScanWith(image.bytes, &thread, 4096, 16 * 1024);
  EXPECT_TRUE(split.references == alone.references);
  EXPECT_EQ(alone.callerReachedCode, end);
  // The first half, where the walks met just past it, and a window's read
  // beyond.
  EXPECT_LE(split.callerReachedCode, middle + 16 * 1024 + 64 * 1024);
  // Sections below the size to split are walked whole.
  const Scan small = ScanWith(image.bytes, &thread, end - begin + 1, 16 * 1024);
  EXPECT_TRUE(small.references == alone.references);
  EXPECT_EQ(small.callerReachedCode, end);
}

TEST(ReferenceScanHelp, HalvesThatNeverMeetAreWalkedAsOne) {
  // From a little before the middle to well past it, five-byte instructions
  // whose every byte starts one (mov eax, imm32 with an immediate of the
  // same bytes): walks that enter them at starts that differ by other than
  // a multiple of five never meet there.
  int fellBack = 0;
  for (uint32_t shift = 0; shift < 5; ++shift) {
    ImageRecipe recipe;
    recipe.functions = 2000;
    recipe.relocations = false;
    MadeImage image = MakeImage(recipe);
    const PeSection code = CodeOf(LayoutOf(image.bytes));
    const uint64_t begin = code.rawOffset, end = begin + MappedSize(code);
    const uint64_t middle = begin + (end - begin) / 2;
    std::fill(image.bytes.begin() + middle - 1000 + shift, image.bytes.begin() + middle + 40000,
              0xB8);
    StandardWorkerThread thread;
    const Scan alone = ScanWith(image.bytes, nullptr, 0, 0);
    const Scan split = ScanWith(image.bytes, &thread, 4096, 16 * 1024);
    SCOPED_TRACE(testing::Message() << "shift " << shift);
    EXPECT_EQ(split.status, ReferenceScan::Done);
    EXPECT_GT(alone.references.size(), 1000u);
    EXPECT_TRUE(split.references == alone.references);
    if (split.callerReachedCode == end) ++fellBack;
  }
  // Most of the five entries are out of step with the second half's.
  EXPECT_GE(fellBack, 3);
}

}  // namespace
