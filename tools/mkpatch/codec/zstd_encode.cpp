#include "mkpatch/codec/zstd_encode.h"
#include "mkpatch/codec/varint_write.h"
#include "mkpatch/codec/x86_branch_convert.h"

// ZSTD_getCParams and the frame format: the library is linked statically, so its experimental API
// is safe.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "update/codec/delta_format.h"
#include "update/codec/varint.h"

namespace {

struct FreeContext {
  void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

// Memory running out is the caller's to report (mkpatch says which file was
// too large); any other refusal means these fixed parameters are broken.
void Require(size_t result) {
  if (!ZSTD_isError(result)) return;
  if (ZSTD_getErrorCode(result) == ZSTD_error_memory_allocation) throw std::bad_alloc();
  std::fprintf(stderr, "mkpatch: zstd refused its parameters (error %d)\n",
               static_cast<int>(ZSTD_getErrorCode(result)));
  std::abort();
}

using Context = std::unique_ptr<ZSTD_CCtx, FreeContext>;

// The parameters every frame mkpatch writes shares.
Context NewContext(int level, ZstdFrame frame) {
  Context context(ZSTD_createCCtx());
  if (!context) throw std::bad_alloc();
  Require(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, level));
  Require(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_checksumFlag, 0));
  Require(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_contentSizeFlag, 1));
  Require(ZSTD_CCtx_setParameter(
      context.get(), ZSTD_c_format,
      frame == ZstdFrame::Magicless ? ZSTD_f_zstd1_magicless : ZSTD_f_zstd1));
  return context;
}

std::vector<unsigned char> Run(ZSTD_CCtx* context, const unsigned char* data, size_t size) {
  // The bound is the input's size and more, mostly never touched: a buffer
  // that is not zeroed first, and a result of the bytes written.
  const size_t bound = ZSTD_compressBound(size);
  std::unique_ptr<unsigned char[]> out(new unsigned char[bound]);
  const size_t written = ZSTD_compress2(context, out.get(), bound, data, size);
  Require(written);
  return std::vector<unsigned char>(out.get(), out.get() + written);
}

// The main stream's stored size, the main stream, the flags.
std::vector<unsigned char> JoinX86Streams(const std::vector<unsigned char>& main,
                                          const X86Split& split, int level) {
  std::vector<unsigned char> bytes;
  AppendVarint(bytes, main.size());
  bytes.insert(bytes.end(), main.begin(), main.end());
  if (!split.flags.empty()) {
    const std::vector<unsigned char> flags =
        CompressZstd(split.flags.data(), split.flags.size(), level, ZstdFrame::Magicless);
    bytes.insert(bytes.end(), flags.begin(), flags.end());
  }
  return bytes;
}

}  // namespace

std::vector<unsigned char> CompressZstd(const unsigned char* data, size_t size, int level,
                                        ZstdFrame frame) {
  Context context = NewContext(level, frame);
  // The level's own window, but never beyond what the updater accepts; the
  // level's window is kept as it is below that, so the frames are what the
  // zstd program writes at that level.
  const ZSTD_compressionParameters levelParameters = ZSTD_getCParams(level, size, 0);
  if (levelParameters.windowLog > static_cast<unsigned>(ENTRY_ZSTD_WINDOW_LOG_MAX)) {
    Require(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_windowLog, ENTRY_ZSTD_WINDOW_LOG_MAX));
  }
  return Run(context.get(), data, size);
}

std::vector<unsigned char> CompressZstdWithPrefix(const unsigned char* data, size_t size,
                                                  const unsigned char* prefix, size_t prefixSize,
                                                  int level) {
  Context context = NewContext(level, ZstdFrame::Magicless);
  Require(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_windowLog, ENTRY_ZSTD_WINDOW_LOG_MAX));
  Require(ZSTD_CCtx_refPrefix(context.get(), prefix, prefixSize));
  return Run(context.get(), data, size);
}

std::vector<unsigned char> CompressZstdX86(const X86Split& split, int level) {
  return JoinX86Streams(
      CompressZstd(split.main.data(), split.main.size(), level, ZstdFrame::Magicless), split,
      level);
}

std::vector<unsigned char> CompressZstdX86WithPrefix(const X86Split& split,
                                                     const std::vector<unsigned char>& prefix,
                                                     int level) {
  return JoinX86Streams(CompressZstdWithPrefix(split.main.data(), split.main.size(), prefix.data(),
                                               prefix.size(), level),
                        split, level);
}

ZstdWriter::ZstdWriter(int level, ZstdFrame frame, uint64_t pledged)
    : buffer_(ZSTD_CStreamOutSize()) {
  Context context = NewContext(level, frame);
  const ZSTD_compressionParameters levelParameters =
      ZSTD_getCParams(level, pledged == kUnknownSize ? ZSTD_CONTENTSIZE_UNKNOWN : pledged, 0);
  if (levelParameters.windowLog > static_cast<unsigned>(ENTRY_ZSTD_WINDOW_LOG_MAX)) {
    Require(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_windowLog, ENTRY_ZSTD_WINDOW_LOG_MAX));
  }
  if (pledged != kUnknownSize) {
    Require(ZSTD_CCtx_setPledgedSrcSize(context.get(), pledged));
  }
  context_ = context.release();
}

ZstdWriter::~ZstdWriter() { ZSTD_freeCCtx(context_); }

void ZstdWriter::Drain(const unsigned char* data, size_t size, int mode) {
  ZSTD_inBuffer in = {data, size, 0};
  for (;;) {
    ZSTD_outBuffer out = {buffer_.data(), buffer_.size(), 0};
    const size_t left =
        ZSTD_compressStream2(context_, &out, &in, static_cast<ZSTD_EndDirective>(mode));
    Require(left);
    out_.insert(out_.end(), buffer_.data(), buffer_.data() + out.pos);
    if (mode == ZSTD_e_end ? left == 0 : in.pos == in.size) return;
  }
}

void ZstdWriter::Add(const unsigned char* data, size_t size) {
  if (size == 0) return;
  any_ = true;
  Drain(data, size, ZSTD_e_continue);
}

std::vector<unsigned char> ZstdWriter::Finish() {
  if (!any_) return {};
  Drain(nullptr, 0, ZSTD_e_end);
  return std::move(out_);
}
