#include "update/codec/zstd_stream.h"

// The frame format parameter: zstd is linked statically, so its experimental
// API is safe to use.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>

#include "update/codec/delta_format.h"

namespace {

DecodeError ErrorOf(size_t result) {
  return ZSTD_getErrorCode(result) == ZSTD_error_memory_allocation ? DecodeError::OutOfMemory
                                                                   : DecodeError::ZstdFrameBad;
}

}  // namespace

DecodeError ReadExactly(ByteStream& stream, unsigned char* out, size_t length) {
  size_t produced = 0;
  if (DecodeError error = stream.Read(out, length, &produced); error != DecodeError::None) {
    return error;
  }
  return produced == length ? DecodeError::None : DecodeError::StreamShort;
}

DecodeError MemoryStream::Read(unsigned char* out, size_t length, size_t* produced) {
  const size_t left = size_ - position_;
  const size_t count = length < left ? length : left;
  for (size_t i = 0; i < count; ++i) out[i] = data_[position_ + i];
  position_ += count;
  *produced = count;
  return DecodeError::None;
}

DecodeError MemoryStream::Finish() {
  return position_ == size_ ? DecodeError::None : DecodeError::StreamLong;
}

ZstdStream::~ZstdStream() { ZSTD_freeDCtx(context_); }

DecodeError ZstdStream::Open(ByteSource* stored, uint64_t begin, uint64_t size, bool magicless) {
  frameOpen_ = false;
  if (DecodeError error = input_.Open(stored, begin, size); error != DecodeError::None) {
    return error;
  }
  if (size == 0) return DecodeError::None;
  if (context_ == nullptr) context_ = ZSTD_createDCtx();
  if (context_ == nullptr) return DecodeError::OutOfMemory;
  // A frame that asks for a larger window is refused, not obeyed: the window
  // is memory the updater would have to find.
  if (ZSTD_isError(
          ZSTD_DCtx_setParameter(context_, ZSTD_d_windowLogMax, ENTRY_ZSTD_WINDOW_LOG_MAX)) ||
      ZSTD_isError(ZSTD_DCtx_setParameter(context_, ZSTD_d_format,
                                          magicless ? ZSTD_f_zstd1_magicless : ZSTD_f_zstd1))) {
    return DecodeError::OutOfMemory;
  }
  return DecodeError::None;
}

DecodeError ZstdStream::UsePrefix(const unsigned char* prefix, size_t size) {
  if (context_ == nullptr) return DecodeError::OutOfMemory;
  return ZSTD_isError(ZSTD_DCtx_refPrefix(context_, prefix, size)) ? DecodeError::OutOfMemory
                                                                   : DecodeError::None;
}

DecodeError ZstdStream::Read(unsigned char* out, size_t length, size_t* produced) {
  *produced = 0;
  while (*produced < length) {
    if (DecodeError error = input_.Fill(); error != DecodeError::None) return error;
    // Between frames with nothing left to read: the stream has ended.
    if (input_.Available() == 0 && !frameOpen_) break;
    ZSTD_inBuffer in = {input_.Data(), input_.Available(), 0};
    ZSTD_outBuffer outBuffer = {out, length, *produced};
    const size_t result = ZSTD_decompressStream(context_, &outBuffer, &in);
    if (ZSTD_isError(result)) return ErrorOf(result);
    const bool progressed = in.pos != 0 || outBuffer.pos != *produced;
    input_.Consume(in.pos);
    *produced = outBuffer.pos;
    frameOpen_ = result != 0;
    // A frame cut short: no input left, and nothing more comes out.
    if (!progressed) return DecodeError::ZstdFrameCut;
  }
  return DecodeError::None;
}

DecodeError ZstdStream::Finish() {
  // Whatever is still stored must decode to nothing: the frames may end in
  // an empty block or a skippable frame, but never hold more bytes.
  unsigned char extra = 0;
  size_t produced = 0;
  if (DecodeError error = Read(&extra, 1, &produced); error != DecodeError::None) return error;
  if (produced != 0 || frameOpen_ || !input_.Exhausted()) return DecodeError::StreamLong;
  return DecodeError::None;
}
