// Feeds arbitrary stored bytes to the decoder the updater runs on every
// compressed or delta entry, against an arbitrary installed file. Aborts when
// it writes more than the file's size, or reports success with fewer.
//
// Input: byte 0 the coding (its low seven bits, modulo the codings); bytes
// 1-3 the decoded size (little-endian, so at most 16 MiB and the runs stay
// quick); then the installed file's length: byte 4 (0-255), or, when byte 0
// has its top bit set, bytes 4-7 (little-endian, for installed files the
// size of real programs, as the reference-aware delta needs); that many bytes
// of installed file; the rest the stored bytes. codec_seeds writes such
// inputs from real builds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "update/codec/entry_codec.h"
#include "update/format/payload.h"
#include "update/format/payload_table.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

class CountingSink : public DecodeSink {
 public:
  explicit CountingSink(uint64_t limit) : limit_(limit) {}
  bool Write(const unsigned char* data, uint32_t length) override {
    (void)data;
    written += length;
    Require(written <= limit_);
    return true;
  }
  uint64_t written = 0;

 private:
  uint64_t limit_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const bool longSource = (data[0] & 0x80) != 0;
  const size_t header = longSource ? 8 : 5;
  if (size < header) return 0;
  const uint32_t decodedSize = data[1] | data[2] << 8 | static_cast<uint32_t>(data[3]) << 16;
  const size_t sourceSize = longSource ? ReadLe32(data + 4) : data[4];
  if (sourceSize > size - header) return 0;
  MemoryByteSource source(data + header, sourceSize);
  MemoryByteSource stored(data, size);
  DecodeRequest request;
  request.coding = static_cast<EntryCoding>((data[0] & 0x7F) % 6);  // 5: unknown
  request.stored = &stored;
  request.storedBegin = header + sourceSize;
  request.storedSize = size - request.storedBegin;
  request.source = &source;
  request.decodedSize = decodedSize;
  CountingSink sink(decodedSize);
  if (DecodeEntryData(request, sink) == DecodeError::None) Require(sink.written == decodedSize);
  return 0;
}
