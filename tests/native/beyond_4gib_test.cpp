// The decoder with files and positions past 4 GiB, in the 32-bit build too:
// sources of more than 4 GiB whose bytes are computed where they are read
// (no large file is ever written), deltas that seek and copy across and
// beyond the 4 GiB mark, a branch map whose copies lie past it, and a file
// decoded to more than 4 GiB, checked byte by byte as it comes out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "codec_test_support.h"
#include "mkpatch/codec/delta_writer.h"
#include "mkpatch/codec/varint_write.h"
#include "mkpatch/codec/zstd_encode.h"
#include "update/codec/delta_format.h"

namespace {

constexpr uint64_t k4GiB = uint64_t(1) << 32;

// A fixed 64 KiB pattern plus a number for each 64 KiB of the source, which
// depends on the position's high half too: a position cut to 32 bits reads
// other bytes. Cheap to compute for gigabytes, and never E8 or E9 (every
// byte stays below 0xC0), so no branch site occurs by chance.
const unsigned char* Pattern() {
  static unsigned char pattern[1 << 16];
  static bool made = false;
  if (!made) {
    uint32_t state = 12345;
    for (unsigned char& byte : pattern) {
      state = state * 1103515245u + 12345u;
      byte = static_cast<unsigned char>((state >> 16) & 0x7F);
    }
    made = true;
  }
  return pattern;
}

unsigned char PageNumber(uint64_t position) {
  return static_cast<unsigned char>(((position >> 16) * 7 + (position >> 32) * 0x1D) & 0x3F);
}

// The synthetic bytes from `position` on, into `out`.
void FillSynthetic(uint64_t position, unsigned char* out, size_t count) {
  const unsigned char* pattern = Pattern();
  for (size_t done = 0; done < count;) {
    const uint64_t at = position + done;
    const size_t inPage = static_cast<size_t>(at & 0xFFFF);
    const size_t step = std::min(count - done, (size_t(1) << 16) - inPage);
    const unsigned char add = PageNumber(at);
    for (size_t i = 0; i < step; ++i)
      out[done + i] = static_cast<unsigned char>(pattern[inPage + i] + add);
    done += step;
  }
}

unsigned char SyntheticByte(uint64_t position) {
  unsigned char byte;
  FillSynthetic(position, &byte, 1);
  return byte;
}

// A source of any size whose bytes are synthetic, with a few planted.
class SyntheticSource : public ByteSource {
 public:
  explicit SyntheticSource(uint64_t size) : size_(size) {}
  void Plant(uint64_t position, const Bytes& bytes) { planted_.push_back({position, bytes}); }
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) override {
    const uint64_t available = offset < size_ ? size_ - offset : 0;
    const uint32_t count = static_cast<uint32_t>(length < available ? length : available);
    unsigned char* out = static_cast<unsigned char*>(buffer);
    FillSynthetic(offset, out, count);
    for (const auto& plant : planted_) {
      for (size_t k = 0; k < plant.second.size(); ++k) {
        const uint64_t at = plant.first + k;
        if (at >= offset && at < offset + count) out[at - offset] = plant.second[k];
      }
    }
    *bytesRead = count;
    return true;
  }

 private:
  uint64_t size_;
  std::vector<std::pair<uint64_t, Bytes>> planted_;
};

struct Command {
  int64_t seek;
  uint64_t copy;
  uint64_t insert;
};

// A delta in the separate layout with sparse differences (`pairs`, already
// encoded), optionally with the branch filter.
Bytes SparseDelta(const std::vector<Command>& commands, const Bytes& pairs, const Bytes& inserted,
                  uint64_t mapMinimum = 0) {
  Bytes control;
  for (const Command& command : commands) {
    AppendVarint(control, ZigzagEncode(command.seek));
    AppendVarint(control, command.copy);
    AppendVarint(control, command.insert);
  }
  const auto frame = [](const Bytes& stream) {
    return stream.empty() ? Bytes()
                          : CompressZstd(stream.data(), stream.size(), 3, ZstdFrame::Magicless);
  };
  if (mapMinimum == 0) {
    return JoinSeparate(DELTA_FLAG_SPARSE, frame(control), frame(pairs), frame(inserted));
  }
  const Bytes controlFrame = frame(control), pairFrame = frame(pairs),
              insertFrame = frame(inserted);
  Bytes out = {DELTA_METHOD_COPY_ADD, DELTA_FILTER_X86_BRANCHES | DELTA_FLAG_SPARSE};
  AppendVarint(out, mapMinimum);
  AppendVarint(out, controlFrame.size());
  AppendVarint(out, pairFrame.size());
  for (const Bytes* part : {&controlFrame, &pairFrame, &insertFrame}) {
    out.insert(out.end(), part->begin(), part->end());
  }
  return out;
}

DecodeError Decode(const Bytes& delta, ByteSource& source, uint64_t decodedSize, DecodeSink& sink) {
  return DecodeFrom(EntryCoding::Delta, delta, decodedSize, source, sink);
}

TEST(Beyond4GiB, CopiesAcrossAndPastTheMarkReadTheirOwnBytes) {
  SyntheticSource source(5 * k4GiB / 4 + 7);  // 5 GiB and 7 bytes
  const uint64_t end = source.Size();
  Bytes pairs;
  AppendVarint(pairs, 5);  // the sixth copied byte, at 4 GiB - 5, plus 1
  pairs.push_back(1);
  const Bytes inserted = {'a', 'b', 'c'};
  // Across 4 GiB, to the source's last byte, then back near its start.
  const std::vector<Command> commands = {{static_cast<int64_t>(k4GiB - 10), 20, 3},
                                         {static_cast<int64_t>((end - 57) - (k4GiB + 10)), 57, 0},
                                         {1000 - static_cast<int64_t>(end), 10, 0}};
  Bytes expected;
  for (uint64_t i = 0; i < 20; ++i) expected.push_back(SyntheticByte(k4GiB - 10 + i));
  expected[5] = static_cast<unsigned char>(expected[5] + 1);
  expected.insert(expected.end(), inserted.begin(), inserted.end());
  for (uint64_t i = 0; i < 57; ++i) expected.push_back(SyntheticByte(end - 57 + i));
  for (uint64_t i = 0; i < 10; ++i) expected.push_back(SyntheticByte(1000 + i));
  MemorySink sink;
  EXPECT_EQ(Decode(SparseDelta(commands, pairs, inserted), source, expected.size(), sink),
            DecodeError::None);
  EXPECT_TRUE(sink.bytes == expected);

  // One byte past the source, reached from beyond 4 GiB, is refused; so is a
  // copy that would run past its end.
  MemorySink refused;
  EXPECT_EQ(Decode(SparseDelta({{static_cast<int64_t>(end + 1), 1, 0}}, Bytes(), Bytes()), source,
                   1, refused),
            DecodeError::SeekOutside);
  EXPECT_EQ(Decode(SparseDelta({{static_cast<int64_t>(end - 3), 4, 0}}, Bytes(), Bytes()), source,
                   4, refused),
            DecodeError::CopyPastSource);
  EXPECT_TRUE(refused.bytes.size() <= 4);
}

TEST(Beyond4GiB, BranchesArePredictedFromCopiesPastTheMark) {
  // A call past 4 GiB to a target past 4 GiB; the target's copy and the
  // call's copy move by different distances.
  SyntheticSource source(k4GiB + (uint64_t(1) << 20));
  const uint64_t site = k4GiB + 1000, target = k4GiB + 100000;
  const uint32_t displacement = static_cast<uint32_t>(target - (site + 5));
  source.Plant(site, {0xE8, static_cast<unsigned char>(displacement),
                      static_cast<unsigned char>(displacement >> 8),
                      static_cast<unsigned char>(displacement >> 16),
                      static_cast<unsigned char>(displacement >> 24)});
  // New 0..20000 is old k4GiB + 90000.., new 20000..20200 is old k4GiB + 900..
  const std::vector<Command> commands = {
      {static_cast<int64_t>(k4GiB + 90000), 20000, 0},
      {static_cast<int64_t>(k4GiB + 900) - static_cast<int64_t>(k4GiB + 110000), 200, 0}};
  MemorySink sink;
  ASSERT_EQ(Decode(SparseDelta(commands, Bytes(), Bytes(), 100), source, 20200, sink),
            DecodeError::None);
  // The call now sits at 20100 and its target at 10000.
  const int32_t moved = 10000 - (20100 + 5);
  Bytes call = {0xE8};
  for (int k = 0; k < 4; ++k)
    call.push_back(static_cast<unsigned char>(static_cast<uint32_t>(moved) >> (8 * k)));
  EXPECT_TRUE(Bytes(sink.bytes.begin() + 20100, sink.bytes.begin() + 20105) == call);
  EXPECT_EQ(sink.bytes[20099], SyntheticByte(site - 1));
  EXPECT_EQ(sink.bytes[20105], SyntheticByte(site + 5));
}

// Counts what comes out and checks it against the source and the planted
// difference without keeping any: in full around 4 GiB, the difference and
// the end, elsewhere the ends of every write (the 32-bit build runs under an
// emulator in CI, and every byte checked there costs).
class CheckingSink : public DecodeSink {
 public:
  CheckingSink(uint64_t sourceStart, uint64_t size, uint64_t changedAt, unsigned char change)
      : sourceStart_(sourceStart), size_(size), changedAt_(changedAt), change_(change) {}
  bool Write(const unsigned char* data, uint32_t length) override {
    expected_.resize(length);
    const bool whole = Near(k4GiB, length) || Near(changedAt_, length) || Near(size_, length);
    const uint32_t edge = length < 16 ? length : 16;
    for (uint32_t from : {uint32_t(0), length - edge}) {
      const uint32_t span = whole ? length : edge;
      if (whole && from > 0) break;
      FillSynthetic(sourceStart_ + count + from, expected_.data() + from, span);
      if (changedAt_ >= count + from && changedAt_ - count - from < span) {
        unsigned char& changed = expected_[static_cast<size_t>(changedAt_ - count)];
        changed = static_cast<unsigned char>(changed + change_);
      }
      if (std::memcmp(data + from, expected_.data() + from, span) != 0) ++wrongWrites;
    }
    count += length;
    return true;
  }
  uint64_t count = 0;
  uint64_t wrongWrites = 0;

 private:
  // Whether the write about to be checked lies within a MiB of `mark`.
  bool Near(uint64_t mark, uint32_t length) const {
    const uint64_t margin = uint64_t(1) << 20;
    return count + length + margin > mark && count < mark + margin;
  }

  uint64_t sourceStart_;
  uint64_t size_;
  uint64_t changedAt_;
  unsigned char change_;
  Bytes expected_;
};

TEST(Beyond4GiB, AFileOfMoreThan4GiBDecodesWhole) {
  const uint64_t start = uint64_t(1) << 19;
  const uint64_t size = k4GiB + (uint64_t(1) << 20);
  SyntheticSource source(start + size);
  Bytes pairs;
  AppendVarint(pairs, k4GiB + 100);  // one difference past 4 GiB of output
  pairs.push_back(7);
  CheckingSink sink(start, size, k4GiB + 100, 7);
  EXPECT_EQ(Decode(SparseDelta({{static_cast<int64_t>(start), size, 0}}, pairs, Bytes()), source,
                   size, sink),
            DecodeError::None);
  EXPECT_EQ(sink.count, size);
  EXPECT_EQ(sink.wrongWrites, 0u);
}

}  // namespace
