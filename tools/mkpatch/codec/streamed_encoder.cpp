#include "mkpatch/codec/streamed_encoder.h"

#include <cstring>
#include <memory>

#include "mkpatch/codec/block_align.h"
#include "mkpatch/codec/block_index.h"
#include "mkpatch/codec/chunk_cache.h"
#include "mkpatch/codec/encoding_levels.h"
#include "mkpatch/codec/streamed_delta.h"
#include "mkpatch/codec/zstd_encode.h"
#include "update/base/md5.h"

namespace {

constexpr uint32_t kReadSize = uint32_t(4) << 20;
constexpr uint64_t kMaxBlocks = uint64_t(1) << 27;

void Take(MD5& digest, unsigned char (&out)[16]) {
  digest.finalize();
  std::memcpy(out, digest.raw_digest().data(), 16);
}

// The file compressed at `level` as it is read; false when unreadable.
// Gives up (*lost) as soon as the frame reaches `giveUpAt` bytes.
bool CompressFile(ByteSource& data, int level, uint64_t giveUpAt, const EncodeProgress& progress,
                  MD5* digest, std::vector<unsigned char>* out, bool* lost) {
  const uint64_t size = data.Size();
  ZstdWriter frame(level, ZstdFrame::Standard, size);
  const uint32_t bufferSize = size < kReadSize ? static_cast<uint32_t>(size) + 1 : kReadSize;
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[bufferSize]);
  *lost = false;
  for (uint64_t done = 0; done < size;) {
    const uint64_t left = size - done;
    const uint32_t want = static_cast<uint32_t>(left < kReadSize ? left : kReadSize);
    uint32_t got = 0;
    if (!data.ReadAt(done, buffer.get(), want, &got) || got != want) return false;
    if (digest != nullptr) digest->update(buffer.get(), want);
    frame.Add(buffer.get(), want);
    done += want;
    if (progress) progress(done, size);
    if (frame.WrittenSoFar() >= giveUpAt) {
      *lost = true;
      return true;
    }
  }
  *out = frame.Finish();
  *lost = out->size() >= giveUpAt;
  return true;
}

// The file's bytes as they are.
bool ReadWhole(ByteSource& data, std::vector<unsigned char>* out) {
  const uint64_t size = data.Size();
  if (size > SIZE_MAX) throw std::bad_alloc();
  out->resize(static_cast<size_t>(size));
  for (uint64_t done = 0; done < size;) {
    const uint64_t left = size - done;
    const uint32_t want = static_cast<uint32_t>(left < kReadSize ? left : kReadSize);
    uint32_t got = 0;
    if (!data.ReadAt(done, out->data() + done, want, &got) || got != want) return false;
    done += want;
  }
  return true;
}

// `best`, or the file stored as it is when that is no larger.
bool OrStored(ByteSource& data, EncodedData* best) {
  if (best->bytes.size() < data.Size()) return true;
  best->coding = EntryCoding::Stored;
  return ReadWhole(data, &best->bytes);
}

}  // namespace

bool NeedsStreamedEncoding(uint64_t oldSize, uint64_t newSize) {
  return oldSize > kStreamedEncodeThreshold || newSize > kStreamedEncodeThreshold;
}

size_t BlockSizeFor(uint64_t oldSize) {
  size_t blockSize = 64;
  while (oldSize / blockSize > kMaxBlocks) blockSize *= 2;
  return blockSize;
}

bool EncodeChangedStreamed(ByteSource& source, ByteSource& target, size_t blockSize,
                           const EncodeProgress& progress, StreamedEncoding* out) {
  const uint64_t newSize = target.Size();
  // The alignment is told as the first half of the work, the streams as
  // the second: their compression takes about as long.
  const auto half = [&](uint64_t base) {
    return [&progress, base, newSize](uint64_t done, uint64_t) {
      if (progress) progress(base + done / 2, newSize);
    };
  };
  MD5 sourceDigest, targetDigest;
  ChunkCache old(source), made(target);
  std::vector<DeltaCommand> commands;
  {
    BlockIndex index;
    if (!index.Build(source, blockSize, &sourceDigest)) return false;
    commands = AlignByBlocks(index, old, made, BlockAlignOptions(), half(0));
  }
  uint64_t inserted = 0;
  for (const DeltaCommand& command : commands) inserted += command.insert;
  const int level = inserted <= kEncodeUltraLimit ? kEncodeUltraLevel : kEncodeLevel;
  out->data.coding = EntryCoding::Delta;
  out->data.bytes =
      WriteStreamedDelta(old, made, commands, level, half(newSize / 2), &targetDigest);
  if (old.Failed() || made.Failed()) return false;
  Take(sourceDigest, out->sourceMd5);
  Take(targetDigest, out->targetMd5);
  std::vector<DeltaCommand>().swap(commands);

  // The whole file only where it can win: a quick compression first, given
  // up once it is hopelessly larger than the delta, then the real one, given
  // up once it is larger (a tie goes to what needs no installed file).
  const uint64_t delta = out->data.bytes.size();
  std::vector<unsigned char> whole;
  bool lost = false;
  if (!CompressFile(target, kHopelessProbeLevel, (delta + 1) * kWholeHopeless, nullptr, nullptr,
                    &whole, &lost)) {
    return false;
  }
  if (!lost) {
    if (!CompressFile(target, kEncodeLevel, delta + 1, nullptr, nullptr, &whole, &lost)) {
      return false;
    }
    if (!lost) {
      out->data.coding = EntryCoding::Zstd;
      out->data.bytes = std::move(whole);
    }
  }
  if (progress) progress(newSize, newSize);
  return OrStored(target, &out->data);
}

bool EncodeWholeStreamed(ByteSource& data, const EncodeProgress& progress, StreamedEncoding* out) {
  MD5 digest;
  bool lost = false;
  if (!CompressFile(data, kEncodeLevel, UINT64_MAX, progress, &digest, &out->data.bytes, &lost)) {
    return false;
  }
  out->data.coding = EntryCoding::Zstd;
  Take(digest, out->targetMd5);
  return OrStored(data, &out->data);
}
