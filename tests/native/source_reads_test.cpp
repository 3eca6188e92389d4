// How the decoder reads the installed file: through windows, and the short
// copies gathered in one pass beforehand, so that a delta of many scattered
// copies costs a few reads of the file instead of one per copy, and every
// byte still comes from where the commands say.
#include <gtest/gtest.h>

#include <cstring>

#include "codec_test_support.h"
#include "mkpatch/codec/delta_writer.h"
#include "mkpatch/codec/varint_write.h"
#include "update/codec/gathered_copies.h"
#include "update/codec/source_window.h"
#include "update/codec/varint.h"

namespace {

// Bytes in memory that count the reads asked of them, and fail every read
// from `failFrom` on when set.
class CountingSource : public ByteSource {
 public:
  explicit CountingSource(const Bytes& bytes) : bytes_(bytes) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) override {
    ++reads;
    asked += length;
    *bytesRead = 0;
    if (reads > failFrom) return false;
    if (offset >= bytes_.size()) return true;
    const size_t part =
        static_cast<size_t>(length < bytes_.size() - offset ? length : bytes_.size() - offset);
    std::memcpy(buffer, bytes_.data() + offset, part);
    *bytesRead = static_cast<uint32_t>(part);
    return true;
  }
  size_t reads = 0;
  uint64_t asked = 0;  // bytes
  size_t failFrom = SIZE_MAX;

 private:
  const Bytes& bytes_;
};

Bytes Noise(size_t size, uint32_t seed) {
  TestGenerator random(seed);
  Bytes bytes(size);
  for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(random.Next());
  return bytes;
}

TEST(SourceWindow, GivesTheSourcesBytesWhereverTheReadsGo) {
  const Bytes file = Noise(300000, 1);
  CountingSource source(file);
  SourceWindow windows(source, 4096, 3);
  ASSERT_TRUE(windows.Allocate());
  TestGenerator random(2);
  for (int i = 0; i < 3000; ++i) {
    // Mostly short reads, some as long as a window and past the file's end.
    const uint64_t offset = random.Below(static_cast<uint32_t>(file.size() + 100));
    const uint32_t length = random.Below(8) == 0 ? random.Below(9000) : random.Below(200);
    Bytes got(length + 1, 0xEE);
    uint32_t count = 0;
    ASSERT_TRUE(windows.ReadAt(offset, got.data(), length, &count));
    const size_t expected =
        offset >= file.size() ? 0 : std::min<size_t>(length, file.size() - offset);
    ASSERT_EQ(count, expected) << "at " << offset << " for " << length;
    EXPECT_EQ(std::memcmp(got.data(), file.data() + (expected != 0 ? offset : 0), expected), 0);
    EXPECT_EQ(got[expected], 0xEE) << "wrote past what it read";
  }
  EXPECT_FALSE(windows.Failed());
}

TEST(SourceWindow, ShortReadsNearOneAnotherCostOneReadPerWindow) {
  const Bytes file = Noise(64 * 1024, 3);
  CountingSource source(file);
  SourceWindow windows(source, 8192, 2);
  ASSERT_TRUE(windows.Allocate());
  unsigned char byte = 0;
  uint32_t count = 0;
  // A run forwards through the file with a far read between every two
  // steps: the far reads take the second window, the run keeps the first.
  for (uint64_t at = 0; at + 100 < file.size(); at += 100) {
    ASSERT_TRUE(windows.ReadAt(at, &byte, 1, &count));
    ASSERT_EQ(byte, file[at]);
    ASSERT_TRUE(windows.ReadAt(file.size() - 1, &byte, 1, &count));
    ASSERT_EQ(byte, file.back());
  }
  EXPECT_LE(source.reads, file.size() / 8192 + 2);
  // A read of half a window or more goes to the source itself.
  const size_t before = source.reads;
  Bytes whole(4096);
  ASSERT_TRUE(windows.ReadAt(100, whole.data(), 4096, &count));
  EXPECT_EQ(source.reads, before + 1);
  EXPECT_EQ(std::memcmp(whole.data(), file.data() + 100, 4096), 0);
}

TEST(SourceWindow, AFailedReadIsReportedAndNothingStaleIsKept) {
  const Bytes file = Noise(50000, 4);
  CountingSource source(file);
  SourceWindow windows(source, 4096, 1);
  ASSERT_TRUE(windows.Allocate());
  unsigned char byte = 0;
  uint32_t count = 0;
  ASSERT_TRUE(windows.ReadAt(10, &byte, 1, &count));
  source.failFrom = source.reads;
  EXPECT_FALSE(windows.ReadAt(20000, &byte, 1, &count));
  EXPECT_TRUE(windows.Failed());
  // The window that failed to fill holds nothing: the old bytes are not
  // served for the new place, nor the new place's for the old.
  EXPECT_FALSE(windows.ReadAt(10, &byte, 1, &count));
  EXPECT_EQ(windows.At(20000, 4), nullptr);
}

TEST(GatheredCopies, ShortCopiesComeBackInCommandOrderUntilABoundIsReached) {
  const Bytes file = Noise(100000, 5);
  // At most 16 bytes a copy, 40 bytes in all.
  GatheredCopies gathered(16, 40, 100);
  struct Copy {
    uint64_t position, length;
    bool expected;
  };
  const Copy copies[] = {
      {90000, 10, true}, {5, 16, true},   {50000, 17, false},  // too long
      {70000, 0, false},                                       // copies nothing
      {300, 8, true},    {400, 7, false},                      // would pass 40 bytes
      {500, 1, false},                                         // after the bound: none
  };
  for (const Copy& copy : copies) ASSERT_TRUE(gathered.Add(copy.position, copy.length));
  CountingSource source(file);
  ASSERT_EQ(gathered.Fill(source), DecodeError::None);
  EXPECT_LE(source.reads, 2u);
  for (const Copy& copy : copies) {
    const unsigned char* bytes = gathered.Take(copy.length);
    ASSERT_EQ(bytes != nullptr, copy.expected) << "copy at " << copy.position;
    if (bytes != nullptr) {
      EXPECT_EQ(std::memcmp(bytes, file.data() + copy.position, copy.length), 0);
    }
  }
  EXPECT_EQ(gathered.Take(4), nullptr) << "nothing is left to take";

  GatheredCopies counted(16, 1000, 2);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(counted.Add(i * 10, 4));
  ASSERT_EQ(counted.Fill(source), DecodeError::None);
  EXPECT_NE(counted.Take(4), nullptr);
  EXPECT_NE(counted.Take(4), nullptr);
  EXPECT_EQ(counted.Take(4), nullptr);
}

TEST(GatheredCopies, ThePassReadsTheCopiesNotTheWholeSource) {
  // As in an image: copies of a few dozen bytes every 10 KiB or so, and a
  // cluster of them within 2 KiB. The far ones cost a read each and little
  // more than their bytes; the cluster one read; nothing between them is
  // read.
  const Bytes file = Noise(4 << 20, 12);
  GatheredCopies gathered;
  std::vector<std::pair<uint64_t, uint64_t>> copies;
  TestGenerator random(13);
  uint64_t copied = 0;
  for (uint64_t position = 1000; position + 200 < file.size();
       position += 9000 + random.Below(4000)) {
    copies.push_back({position, 1 + random.Below(COPY_GATHER_LONGEST)});
  }
  const size_t far = copies.size();
  for (int i = 0; i < 50; ++i)
    copies.push_back({(uint64_t(2) << 20) + 5000 + random.Below(2000), 16});
  for (const auto& copy : copies) {
    ASSERT_TRUE(gathered.Add(copy.first, copy.second));
    copied += copy.second;
  }
  CountingSource source(file);
  ASSERT_EQ(gathered.Fill(source), DecodeError::None);
  EXPECT_LE(source.reads, far + 1);
  EXPECT_LE(source.asked, copied + 2048 + 16) << "of " << file.size() << " bytes";
  for (const auto& copy : copies) {
    const unsigned char* bytes = gathered.Take(copy.second);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::memcmp(bytes, file.data() + copy.first, copy.second), 0)
        << "copy at " << copy.first;
  }
}

// A source of `size` bytes, each a function of its place, held nowhere.
class PatternSource : public ByteSource {
 public:
  explicit PatternSource(uint64_t size) : size_(size) {}
  static unsigned char At(uint64_t offset) {
    return static_cast<unsigned char>((offset * 0x9E3779B1u) >> 13 ^ offset >> 35);
  }
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) override {
    ++reads;
    const uint64_t left = offset < size_ ? size_ - offset : 0;
    *bytesRead = static_cast<uint32_t>(length < left ? length : left);
    for (uint32_t i = 0; i < *bytesRead; ++i)
      static_cast<unsigned char*>(buffer)[i] = At(offset + i);
    return true;
  }
  size_t reads = 0;

 private:
  uint64_t size_;
};

TEST(GatheredCopies, CopiesFromAnywhereInAHugeSourceComeBackRight) {
  // Copies across 3 MiB and across a terabyte (where the stretches read
  // grow), the first ending at the source's last byte: the pass through the
  // source reads only stretches that hold copies.
  for (const uint64_t size : {uint64_t(3) << 20, uint64_t(1) << 40}) {
    PatternSource source(size);
    GatheredCopies gathered;
    std::vector<std::pair<uint64_t, uint64_t>> copies;
    TestGenerator random(11);
    for (int i = 0; i < (size >> 32 != 0 ? 100 : 2000); ++i) {
      const uint64_t length = 1 + random.Below(COPY_GATHER_LONGEST);
      const uint64_t position =
          i == 0 ? size - length
                 : (uint64_t(random.Next()) << 32 | random.Next()) % (size - length + 1);
      copies.push_back({position, length});
      ASSERT_TRUE(gathered.Add(position, length));
    }
    ASSERT_EQ(gathered.Fill(source), DecodeError::None);
    EXPECT_LE(source.reads, copies.size()) << "a read per stretch with copies at most";
    for (const auto& copy : copies) {
      const unsigned char* bytes = gathered.Take(copy.second);
      ASSERT_NE(bytes, nullptr);
      for (uint64_t k = 0; k < copy.second; ++k) {
        ASSERT_EQ(bytes[k], PatternSource::At(copy.first + k)) << "copy at " << copy.first;
      }
    }
  }
}

TEST(GatheredCopies, ASourceThatCannotBeReadIsRefused) {
  const Bytes file = Noise(1000, 6);
  CountingSource source(file);
  source.failFrom = 0;
  GatheredCopies gathered;
  ASSERT_TRUE(gathered.Add(10, 20));
  EXPECT_EQ(gathered.Fill(source), DecodeError::SourceUnreadable);
  GatheredCopies none;
  EXPECT_EQ(none.Fill(source), DecodeError::None) << "no copy, no read";
  CountingSource whole(file);
  GatheredCopies past;
  ASSERT_TRUE(past.Add(990, 20));
  EXPECT_EQ(past.Fill(whole), DecodeError::SourceUnreadable) << "a copy past the source's end";
}

// A delta of `count` copies of `length` bytes from scattered places of
// `source` (each with a few differences), with an insertion after every
// tenth; `expected` gets the file it makes.
Bytes ScatteredDelta(const Bytes& source, size_t count, uint32_t length, DeltaLayoutChoice layout,
                     Bytes* expected) {
  DeltaStreams streams;
  TestGenerator random(7);
  uint64_t position = 0;
  expected->clear();
  for (size_t i = 0; i < count; ++i) {
    const uint64_t from = random.Below(static_cast<uint32_t>(source.size() - length));
    const uint64_t insert = i % 10 == 0 ? 3 : 0;
    AppendVarint(streams.control, ZigzagEncode(static_cast<int64_t>(from - position)));
    AppendVarint(streams.control, length);
    AppendVarint(streams.control, insert);
    for (uint32_t k = 0; k < length; ++k) {
      const unsigned char difference = k == length / 2 ? static_cast<unsigned char>(i) : 0;
      streams.difference.push_back(difference);
      expected->push_back(static_cast<unsigned char>(source[from + k] + difference));
    }
    for (uint64_t k = 0; k < insert; ++k) {
      streams.insertion.push_back('n');
      expected->push_back('n');
    }
    position = from + length;
  }
  return WriteDelta(streams, layout, 3);
}

DecodeError DecodeCounting(const Bytes& delta, uint64_t size, CountingSource& installed,
                           Bytes* out) {
  MemorySink sink;
  const DecodeError error = DecodeFrom(EntryCoding::Delta, delta, size, installed, sink);
  *out = std::move(sink.bytes);
  return error;
}

TEST(DecoderReads, ScatteredShortCopiesCostAFewReadsOfTheInstalledFile) {
  const Bytes old = Noise(1 << 20, 8);
  for (DeltaLayoutChoice layout : {DeltaLayoutChoice::Separate, DeltaLayoutChoice::SeparateSparse,
                                   DeltaLayoutChoice::Packed}) {
    Bytes expected, decoded;
    const Bytes delta = ScatteredDelta(old, 5000, 24, layout, &expected);
    CountingSource installed(old);
    ASSERT_EQ(DecodeCounting(delta, expected.size(), installed, &decoded), DecodeError::None);
    EXPECT_TRUE(decoded == expected) << "layout " << static_cast<int>(layout);
    // One pass through the file for all 5000 copies, 64 KiB a read.
    EXPECT_LE(installed.reads, 20u) << "layout " << static_cast<int>(layout);
  }
}

TEST(DecoderReads, CopiesPastTheGatheringBoundAreStillRight) {
  // More short copies than are gathered: those after the bound are read
  // where they are used, and both readings of the commands agree on which.
  const Bytes old = Noise(4 << 20, 9);
  const size_t count = COPY_GATHER_COUNT + 5000;
  Bytes expected, decoded;
  const Bytes delta = ScatteredDelta(old, count, 2, DeltaLayoutChoice::Separate, &expected);
  CountingSource installed(old);
  ASSERT_EQ(DecodeCounting(delta, expected.size(), installed, &decoded), DecodeError::None);
  EXPECT_TRUE(decoded == expected);
  EXPECT_GT(installed.reads, 100u) << "the copies past the bound were read where they are used";
}

}  // namespace
