// The decoded bytes of an entry coded Lzma, read front to back through a
// bounded input buffer. The stored bytes:
//   byte  the branch conversion the file went through before LZMA2
//         (LZMA_CONVERSION_*): none, x86 (relative call and jump targets
//         made absolute) or ARM64 (BL and ADRP targets made absolute), as
//         liblzma's branch converters define them, from file position 0
//   byte  LZMA2's dictionary size in liblzma's one-byte encoding: p stands
//         for (2 + p % 2) << (p / 2 + 11) bytes; at most
//         LZMA_DICTIONARY_PROPERTY_MAX
//   then one raw LZMA2 stream up to and including its end marker, and
//   nothing after it.
// LZMA2 with a branch conversion suited to the code is what makes whole
// executables smallest (an eighth below zstd's highest level on real x86,
// x64 and ARM64 programs); the dictionary bound keeps the updater's memory
// within what a zstd entry may ask (ENTRY_ZSTD_WINDOW_LOG_MAX).
#pragma once

#include <cstdint>
#include <memory>

#include "update/base/byte_source.h"
#include "update/codec/byte_stream.h"
#include "update/codec/stored_input.h"

constexpr uint8_t LZMA_CONVERSION_NONE = 0;
constexpr uint8_t LZMA_CONVERSION_X86 = 1;
constexpr uint8_t LZMA_CONVERSION_ARM64 = 2;
// 16 MiB.
constexpr uint8_t LZMA_DICTIONARY_PROPERTY_MAX = 24;
constexpr uint32_t LZMA_HEADER_SIZE = 2;

// The dictionary size property `property` stands for (at most 40).
uint64_t LzmaDictionarySize(uint8_t property);

class LzmaStream : public ByteStream {
 public:
  LzmaStream();
  ~LzmaStream() override;
  LzmaStream(const LzmaStream&) = delete;
  LzmaStream& operator=(const LzmaStream&) = delete;

  // The entry stored in [begin, begin + size) of `stored`: refuses a header
  // with an unknown conversion or too large a dictionary.
  DecodeError Open(ByteSource* stored, uint64_t begin, uint64_t size);
  DecodeError Read(unsigned char* out, size_t length, size_t* produced) override;
  DecodeError Finish() override;

 private:
  struct Coder;
  std::unique_ptr<Coder> coder_;  // liblzma's state, behind a pointer so that its header stays here
  StoredInput input_;
  bool ended_ = false;  // LZMA2's end marker was read
};
