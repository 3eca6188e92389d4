// The decoded bytes of a sequence of zstd frames stored in a region of the
// updater's file, read front to back through a bounded input buffer and one
// decompression context whose window is capped (ENTRY_ZSTD_WINDOW_LOG_MAX).
#pragma once

#include "update/base/byte_source.h"
#include "update/codec/byte_stream.h"
#include "update/codec/stored_input.h"

struct ZSTD_DCtx_s;

class ZstdStream : public ByteStream {
 public:
  ZstdStream() = default;
  ~ZstdStream() override;
  ZstdStream(const ZstdStream&) = delete;
  ZstdStream& operator=(const ZstdStream&) = delete;

  // The frames in [begin, begin + size) of `stored`; without their magic
  // numbers when `magicless`. An empty region is an empty stream.
  DecodeError Open(ByteSource* stored, uint64_t begin, uint64_t size, bool magicless = false);
  // Makes `prefix` (which must outlive the stream) the window the first frame
  // starts with; zstd forgets it at the end of that frame. After Open.
  DecodeError UsePrefix(const unsigned char* prefix, size_t size);
  DecodeError Read(unsigned char* out, size_t length, size_t* produced) override;
  DecodeError Finish() override;

 private:
  ZSTD_DCtx_s* context_ = nullptr;
  StoredInput input_;
  bool frameOpen_ = false;  // a frame has begun and not yet ended
};
