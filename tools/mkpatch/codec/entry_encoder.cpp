#include "entry_encoder.h"

#include "delta_streams.h"
#include "delta_writer.h"
#include "zstd_encode.h"

namespace {

// zstd's strongest levels, where the time they take is worth it: a patch is
// built once and downloaded by every player.
const int kWholeLevel = 19;
const int kWholeUltraLevel = 22;
const size_t kUltraLimit = size_t(64) << 20;
const int kDeltaLevel = 19;

EncodedData Smaller(EncodedData a, EncodedData b) {
  return b.bytes.size() < a.bytes.size() ? std::move(b) : std::move(a);
}

}  // namespace

EncodedData EncodeWhole(const unsigned char* data, size_t size, const EncodeProgress& progress) {
  EncodedData best;
  best.coding = EntryCoding::Stored;
  best.bytes.assign(data, data + size);
  EncodedData compressed;
  compressed.coding = EntryCoding::Zstd;
  compressed.bytes = CompressZstd(data, size, kWholeLevel);
  best = Smaller(std::move(best), std::move(compressed));
  if (size <= kUltraLimit) {
    EncodedData ultra;
    ultra.coding = EntryCoding::Zstd;
    ultra.bytes = CompressZstd(data, size, kWholeUltraLevel);
    best = Smaller(std::move(best), std::move(ultra));
  }
  if (progress) progress(size, size);
  return best;
}

EncodedData EncodeChanged(const unsigned char* source, size_t sourceSize,
                          const unsigned char* target, size_t targetSize,
                          const EncodeProgress& progress) {
  EncodedData delta;
  delta.coding = EntryCoding::Delta;
  {
    const SuffixIndex index(source, sourceSize);
    const DeltaStreams streams =
        AlignFiles(index, target, targetSize, AlignOptions(), [&](uint64_t done, uint64_t total) {
          if (progress) progress(done, total);
        });
    delta.bytes = WriteDelta(streams, kDeltaLevel);
  }
  // The whole file wins a tie: it needs nothing of the installed file.
  return Smaller(EncodeWhole(target, targetSize, nullptr), std::move(delta));
}
