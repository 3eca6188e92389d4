#include "update/codec/lzma_stream.h"

#include <lzma.h>

#include "update/codec/lzma_chain.h"

namespace {

DecodeError ErrorOf(lzma_ret result) {
  switch (result) {
    case LZMA_MEM_ERROR:
    case LZMA_MEMLIMIT_ERROR:
      return DecodeError::OutOfMemory;
    case LZMA_BUF_ERROR:
      return DecodeError::LzmaCut;
    default:
      return DecodeError::LzmaDataBad;
  }
}

}  // namespace

// lzma_end frees what an initialisation left, failed or not, and does
// nothing to a stream never initialised.
struct LzmaStream::Coder {
  lzma_stream stream = LZMA_STREAM_INIT;
  bool open = false;  // initialised for decoding
  ~Coder() { lzma_end(&stream); }
};

uint64_t LzmaDictionarySize(uint8_t property) {
  return uint64_t(2 + property % 2) << (property / 2 + 11);
}

LzmaStream::LzmaStream() : coder_(new (std::nothrow) Coder) {}

LzmaStream::~LzmaStream() = default;

DecodeError LzmaStream::Open(ByteSource* stored, uint64_t begin, uint64_t size) {
  if (coder_ == nullptr) return DecodeError::OutOfMemory;
  unsigned char header[LZMA_HEADER_SIZE] = {};
  uint32_t got = 0;
  if (size < LZMA_HEADER_SIZE) return DecodeError::LzmaCut;
  if (!stored->ReadAt(begin, header, LZMA_HEADER_SIZE, &got) || got != LZMA_HEADER_SIZE) {
    return DecodeError::StoredUnreadable;
  }
  const uint8_t conversion = header[0], property = header[1];
  if (conversion > LZMA_CONVERSION_ARM64 || property > LZMA_DICTIONARY_PROPERTY_MAX) {
    return DecodeError::LzmaHeader;
  }
  ended_ = false;
  if (DecodeError error = input_.Open(stored, begin + LZMA_HEADER_SIZE, size - LZMA_HEADER_SIZE);
      error != DecodeError::None) {
    return error;
  }
  lzma_options_lzma options = {};
  options.dict_size = static_cast<uint32_t>(LzmaDictionarySize(property));
  const LzmaChain chain(conversion, &options);
  lzma_end(&coder_->stream);
  coder_->stream = LZMA_STREAM_INIT;
  const lzma_ret result = lzma_raw_decoder(&coder_->stream, chain.filters);
  coder_->open = result == LZMA_OK;
  return coder_->open ? DecodeError::None : ErrorOf(result);
}

DecodeError LzmaStream::Read(unsigned char* out, size_t length, size_t* produced) {
  *produced = 0;
  if (coder_ == nullptr || !coder_->open) return DecodeError::LzmaDataBad;
  lzma_stream& stream = coder_->stream;
  while (*produced < length && !ended_) {
    if (DecodeError error = input_.Fill(); error != DecodeError::None) return error;
    stream.next_in = input_.Data();
    stream.avail_in = input_.Available();
    stream.next_out = out + *produced;
    stream.avail_out = length - *produced;
    // Told that the input is complete once the last stored byte is in the
    // buffer, liblzma says when the stream is cut rather than waiting.
    const lzma_ret result = lzma_code(&stream, input_.AllRead() ? LZMA_FINISH : LZMA_RUN);
    input_.Consume(input_.Available() - stream.avail_in);
    *produced = length - stream.avail_out;
    if (result == LZMA_STREAM_END) {
      ended_ = true;
    } else if (result != LZMA_OK) {
      return ErrorOf(result);
    }
  }
  return DecodeError::None;
}

DecodeError LzmaStream::Finish() {
  // The end marker may not have been read yet: whatever is left must be it,
  // and nothing may follow it.
  unsigned char extra = 0;
  size_t produced = 0;
  if (DecodeError error = Read(&extra, 1, &produced); error != DecodeError::None) return error;
  if (produced != 0 || !input_.Exhausted()) return DecodeError::StreamLong;
  return ended_ ? DecodeError::None : DecodeError::LzmaCut;
}
