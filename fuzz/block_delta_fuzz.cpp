// Feeds arbitrary pairs of files to the differ for large files, with blocks
// small enough that short inputs exercise its matching, and decodes what it
// writes with the updater's decoder. Aborts unless the new file comes back
// byte for byte.
//
// Input: byte 0 picks the block size (4 to 35 bytes); bytes 1-2 the old
// file's length (little-endian, cut to what follows); the old file; the rest
// the new file, or, when byte 0's top bit is set, the old file with the rest
// written over it from the front (so most of it still matches).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "mkpatch/codec/streamed_encoder.h"
#include "update/codec/entry_codec.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

class KeepingSink : public DecodeSink {
 public:
  bool Write(const unsigned char* data, uint32_t length) override {
    bytes.insert(bytes.end(), data, data + length);
    return true;
  }
  std::vector<unsigned char> bytes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t blockSize = 4 + (data[0] & 0x1F);
  size_t oldSize = data[1] | data[2] << 8;
  if (oldSize > size - 3) oldSize = size - 3;
  const std::vector<unsigned char> old(data + 3, data + 3 + oldSize);
  std::vector<unsigned char> target(data + 3 + oldSize, data + size);
  if (data[0] & 0x80) {
    std::vector<unsigned char> overwritten = old;
    for (size_t i = 0; i < target.size() && i < overwritten.size(); i += 2) {
      overwritten[target[i] * 7 % overwritten.size()] = i + 1 < target.size() ? target[i + 1] : 0;
    }
    target = overwritten;
  }
  MemoryByteSource source(old.data(), old.size()), made(target.data(), target.size());
  StreamedEncoding encoded;
  Require(EncodeChangedStreamed(source, made, blockSize, nullptr, &encoded));
  MemoryByteSource stored(encoded.data.bytes.data(), encoded.data.bytes.size());
  DecodeRequest request;
  request.coding = encoded.data.coding;
  request.stored = &stored;
  request.storedSize = encoded.data.bytes.size();
  request.source = &source;
  request.decodedSize = target.size();
  KeepingSink sink;
  Require(DecodeEntryData(request, sink) == DecodeError::None);
  Require(sink.bytes == target);
  return 0;
}
