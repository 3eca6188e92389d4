// The differ for large files: block matching and the streamed writer, with
// small blocks so that small files exercise it. Every case is a round trip
// through the updater's real decoder, and the digests it reports are checked
// against the files'.
#include <gtest/gtest.h>

#include <cstring>

#include "codec_test_support.h"
#include "mkpatch/codec/block_align.h"
#include "mkpatch/codec/block_index.h"
#include "mkpatch/codec/delta_writer.h"
#include "mkpatch/codec/framed_writer.h"
#include "mkpatch/codec/rolling_hash.h"
#include "mkpatch/codec/streamed_encoder.h"
#include "mkpatch/codec/varint_write.h"
#include "mkpatch/codec/zstd_encode.h"
#include "update/base/md5.h"

namespace {

Bytes Noise(size_t size, uint32_t seed) {
  Bytes bytes(size);
  uint32_t state = seed * 2654435761u + 1;
  for (unsigned char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<unsigned char>(state >> 23);
  }
  return bytes;
}

std::string Md5Of(const Bytes& bytes) {
  MD5 digest;
  digest.update(bytes.data(), static_cast<uint32_t>(bytes.size()));
  digest.finalize();
  return digest.raw_digest();
}

Bytes Joined(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Slice(const Bytes& bytes, size_t from, size_t to) {
  return Bytes(bytes.begin() + from, bytes.begin() + to);
}

StreamedEncoding Encode(const Bytes& old, const Bytes& target, size_t blockSize) {
  MemoryByteSource source(old.data(), old.size()), made(target.data(), target.size());
  StreamedEncoding encoded;
  EXPECT_TRUE(EncodeChangedStreamed(source, made, blockSize, nullptr, &encoded));
  return encoded;
}

// Encodes, decodes against `old`, and checks the bytes and both digests;
// returns the encoding for further checks.
StreamedEncoding RoundTrip(const Bytes& old, const Bytes& target, size_t blockSize = 16) {
  const StreamedEncoding encoded = Encode(old, target, blockSize);
  Bytes out;
  EXPECT_EQ(DecodeInMemory(encoded.data.coding, encoded.data.bytes, target.size(), old, &out),
            DecodeError::None);
  EXPECT_TRUE(out == target) << old.size() << " -> " << target.size() << " bytes, block "
                             << blockSize << ", coding " << static_cast<int>(encoded.data.coding);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(encoded.targetMd5), 16), Md5Of(target));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(encoded.sourceMd5), 16), Md5Of(old));
  return encoded;
}

// The commands alone, to see what the matcher paired.
std::vector<DeltaCommand> Align(const Bytes& old, const Bytes& target, size_t blockSize) {
  MemoryByteSource source(old.data(), old.size()), made(target.data(), target.size());
  BlockIndex index;
  EXPECT_TRUE(index.Build(source, blockSize, nullptr));
  ChunkCache oldCache(source, 4096, 4), newCache(made, 4096, 4);
  return AlignByBlocks(index, oldCache, newCache, BlockAlignOptions(), nullptr);
}

uint64_t Inserted(const std::vector<DeltaCommand>& commands) {
  uint64_t inserted = 0;
  for (const DeltaCommand& command : commands) inserted += command.insert;
  return inserted;
}

TEST(BlockDelta, ScatteredEditsCostLittle) {
  const Bytes old = ProgramLike(1 << 20, 11);
  Bytes target = old;
  for (size_t at = 777; at < target.size(); at += 40013) target[at] ^= 0x5A;
  const StreamedEncoding encoded = RoundTrip(old, target, 64);
  EXPECT_EQ(encoded.data.coding, EntryCoding::Delta);
  // 27 changed bytes: the copy runs over them, each costs a few bytes.
  EXPECT_LT(encoded.data.bytes.size(), 400u);
  EXPECT_EQ(Inserted(Align(old, target, 64)), 0u);
}

TEST(BlockDelta, InsertionsRemovalsAndMovesCostOnlyTheNewBytes) {
  const Bytes old = ProgramLike(600000, 12);
  const Bytes fresh = Noise(5000, 13);
  // A block inserted in the middle, one removed, and two pieces swapped.
  const Bytes target =
      Joined({Slice(old, 0, 100000), fresh, Slice(old, 100000, 250000), Slice(old, 260000, 400000),
              Slice(old, 500000, 600000), Slice(old, 400000, 500000)});
  const StreamedEncoding encoded = RoundTrip(old, target, 64);
  EXPECT_EQ(encoded.data.coding, EntryCoding::Delta);
  // The noise does not compress; everything else is copied.
  EXPECT_LT(encoded.data.bytes.size(), fresh.size() + 600);
  const std::vector<DeltaCommand> commands = Align(old, target, 64);
  EXPECT_GE(Inserted(commands), fresh.size() - 64);
  EXPECT_LE(Inserted(commands), fresh.size() + 64);
}

TEST(BlockDelta, MatchesAreFoundWhereverTheyLieAgainstTheBlocks) {
  const Bytes old = Noise(50000, 14);
  // Every shift against the block grid, and pieces just long enough to hold
  // a whole block (two blocks less one byte) or not.
  for (size_t shift = 0; shift < 16; ++shift) {
    const Bytes piece = Slice(old, 1000 + shift, 1000 + shift + 31);
    const Bytes target = Joined({Noise(300, 15), piece, Noise(300, 16)});
    const std::vector<DeltaCommand> commands = Align(old, target, 16);
    EXPECT_LE(Inserted(commands), 600u) << "shift " << shift;
    RoundTrip(old, target, 16);
  }
  // Shorter than a block: no match can be found, and none is made up.
  const Bytes target = Joined({Noise(300, 17), Slice(old, 2000, 2015), Noise(300, 18)});
  EXPECT_EQ(Inserted(Align(old, target, 16)), target.size());
}

TEST(BlockDelta, RunsOfZerosAndRepeatsStayCheapAndExact) {
  Bytes zeros(300000, 0);
  Bytes target = zeros;
  target[150000] = 1;
  target.insert(target.begin() + 1000, 70000, 0);  // longer, still zeros
  const StreamedEncoding encoded = RoundTrip(zeros, target, 64);
  EXPECT_LT(encoded.data.bytes.size(), 200u);
  // The same block over and over: the index keeps a few of its places.
  const Bytes unit = Noise(64, 19);
  Bytes repeated;
  for (int i = 0; i < 2000; ++i) repeated.insert(repeated.end(), unit.begin(), unit.end());
  Bytes changed = repeated;
  changed[64 * 1000 + 3] ^= 1;
  RoundTrip(repeated, changed, 64);
  RoundTrip(repeated, Joined({Noise(1000, 20), repeated}), 64);
}

TEST(BlockDelta, UnrelatedFilesShipWhole) {
  const Bytes old = Noise(100000, 21);
  const StreamedEncoding noise = RoundTrip(old, Noise(100000, 22), 16);
  EXPECT_EQ(noise.data.coding, EntryCoding::Stored);
  const Bytes text = ProgramLike(100000, 23);
  const StreamedEncoding compressible = RoundTrip(old, text, 16);
  EXPECT_EQ(compressible.data.coding, EntryCoding::Zstd);
}

TEST(BlockDelta, SizesAroundTheBlockSizeRoundTrip) {
  const Bytes base = Noise(200, 24);
  for (size_t oldSize : {0, 1, 15, 16, 17, 31, 32, 33, 48}) {
    for (size_t newSize : {0, 1, 15, 16, 17, 32, 33}) {
      const Bytes old = Slice(base, 0, oldSize);
      Bytes target = Slice(base, 0, newSize);
      RoundTrip(old, target);
      if (newSize > 0) {
        target[newSize / 2] ^= 0xFF;
        RoundTrip(old, target);
      }
    }
  }
}

TEST(BlockDelta, SameInputsGiveTheSameBytesOnEveryPlatform) {
  const Bytes old = ProgramLike(200000, 25);
  const Bytes next = NextBuild(old, 26);
  const Bytes first = Encode(old, next, 32).data.bytes;
  EXPECT_TRUE(first == Encode(old, next, 32).data.bytes);
  // mkpatch and mkpatch.exe must write the same patch; this suite runs in
  // both builds, so both must see this digest. A deliberate change of the
  // encoding changes it here once, for both.
  MD5 digest;
  digest.update(first.data(), static_cast<uint32_t>(first.size()));
  digest.finalize();
  EXPECT_EQ(digest.hex_digest(), "20f5dfba8668ed82dad4d832140257fe");
}

// A source whose reads fail from some offset on, as a file on a failing disk.
class FailingSource : public ByteSource {
 public:
  FailingSource(const Bytes& bytes, uint64_t failFrom) : bytes_(bytes), failFrom_(failFrom) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) override {
    *bytesRead = 0;
    if (offset + length > failFrom_) return false;
    std::memcpy(buffer, bytes_.data() + offset, length);
    *bytesRead = length;
    return true;
  }

 private:
  const Bytes& bytes_;
  uint64_t failFrom_;
};

TEST(BlockDelta, AnUnreadableFileFailsTheEncoding) {
  const Bytes old = ProgramLike(100000, 27);
  const Bytes target = NextBuild(old, 28);
  MemoryByteSource goodOld(old.data(), old.size()), goodNew(target.data(), target.size());
  FailingSource badOld(old, 60000), badNew(target, 60000);
  StreamedEncoding encoded;
  EXPECT_FALSE(EncodeChangedStreamed(badOld, goodNew, 16, nullptr, &encoded));
  EXPECT_FALSE(EncodeChangedStreamed(goodOld, badNew, 16, nullptr, &encoded));
  EXPECT_FALSE(EncodeWholeStreamed(badNew, nullptr, &encoded));
}

TEST(BlockDelta, WholeFilesStreamedDecodeToTheirBytes) {
  for (const Bytes& file : {ProgramLike(300000, 29), Noise(5000, 30), Bytes()}) {
    MemoryByteSource source(file.data(), file.size());
    StreamedEncoding encoded;
    ASSERT_TRUE(EncodeWholeStreamed(source, nullptr, &encoded));
    Bytes out;
    EXPECT_EQ(DecodeInMemory(encoded.data.coding, encoded.data.bytes, file.size(), Bytes(), &out),
              DecodeError::None);
    EXPECT_TRUE(out == file);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(encoded.targetMd5), 16), Md5Of(file));
  }
}

TEST(BlockDelta, InsertionsOfSeveralFramesDecodeInOrder) {
  // Past 16 MiB the insertions are cut into frames compressed side by side;
  // the decoder reads them as one stream. A quick level: only the framing
  // is under test.
  Bytes inserted(2 * FramedWriter::kFrameContent + 5);
  for (size_t i = 0; i < inserted.size(); ++i) {
    inserted[i] = static_cast<unsigned char>((i >> 20) ^ (i * 7) ^ (i >> 9));
  }
  FramedWriter frames(1);
  frames.Add(inserted.data(), 1000);
  frames.Add(inserted.data() + 1000, inserted.size() - 1000);
  const Bytes insertion = frames.Finish();
  Bytes control;
  AppendVarint(control, 0);
  AppendVarint(control, 0);
  AppendVarint(control, inserted.size());
  const Bytes delta = JoinSeparate(
      0, CompressZstd(control.data(), control.size(), 1, ZstdFrame::Magicless), Bytes(), insertion);
  Bytes out;
  EXPECT_EQ(DecodeInMemory(EntryCoding::Delta, delta, inserted.size(), Bytes(), &out),
            DecodeError::None);
  EXPECT_TRUE(out == inserted);
  FramedWriter empty(1);
  EXPECT_TRUE(empty.Finish().empty());
}

TEST(BlockDelta, AWindowHashesAlikeRolledOrComputedAtOnce) {
  // The index hashes blocks at once, the matcher rolls over the new file:
  // they must agree on every window, whatever its size.
  const Bytes bytes = Noise(300, 31);
  for (size_t window : {1, 4, 7, 16, 64}) {
    RollingHash rolling(window);
    rolling.Reset(bytes.data());
    for (size_t at = 0; at + window <= bytes.size(); ++at) {
      if (at > 0) rolling.Roll(bytes[at - 1], bytes[at - 1 + window]);
      ASSERT_EQ(rolling.Mixed(), rolling.Of(bytes.data() + at))
          << "window " << window << " at " << at;
    }
  }
}

TEST(BlockDelta, BlocksGrowWithTheOldFileToBoundTheIndex) {
  EXPECT_EQ(BlockSizeFor(0), 64u);
  EXPECT_EQ(BlockSizeFor(uint64_t(8) << 30), 64u);
  EXPECT_EQ(BlockSizeFor((uint64_t(8) << 30) + 64), 128u);
  EXPECT_EQ(BlockSizeFor(uint64_t(40) << 30), 512u);
  EXPECT_LE((uint64_t(40) << 30) / BlockSizeFor(uint64_t(40) << 30), uint64_t(1) << 27);
  EXPECT_FALSE(NeedsStreamedEncoding(kStreamedEncodeThreshold, kStreamedEncodeThreshold));
  EXPECT_TRUE(NeedsStreamedEncoding(kStreamedEncodeThreshold + 1, 0));
  EXPECT_TRUE(NeedsStreamedEncoding(0, kStreamedEncodeThreshold + 1));
}

}  // namespace
