// zstd frames as mkpatch stores them: one frame with the content size and no
// checksum (the entry's MD5 covers the bytes), single-threaded and with fixed
// parameters, so the same input gives the same bytes on every platform, and
// a window the updater accepts (ENTRY_ZSTD_WINDOW_LOG_MAX).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "mkpatch/codec/x86_branch_convert.h"
#include "update/codec/x86_branch_filter.h"

enum class ZstdFrame {
  Standard,   // RFC 8878 frames, as an entry coded Zstd holds them
  Magicless,  // without the 4-byte magic number, as a delta's streams hold them
};

// Levels as zstd numbers them (1..22).
std::vector<unsigned char> CompressZstd(const unsigned char* data, size_t size, int level,
                                        ZstdFrame frame = ZstdFrame::Standard);

// One magicless frame compressed with `prefix` as the window it starts with
// (a delta of method DELTA_METHOD_SOURCE_PREFIX), the window as large as the
// updater accepts.
std::vector<unsigned char> CompressZstdWithPrefix(const unsigned char* data, size_t size,
                                                  const unsigned char* prefix, size_t prefixSize,
                                                  int level);

// An entry coded ZstdX86 (x86_branch_filter.h): the main stream's stored
// size, the main stream, the flags.
std::vector<unsigned char> CompressZstdX86(const X86Split& split, int level);

// The same with the main stream compressed as CompressZstdWithPrefix does,
// `prefix` being the converted old file (a delta of method
// DELTA_METHOD_SOURCE_PREFIX_X86, after its method byte).
std::vector<unsigned char> CompressZstdX86WithPrefix(const X86Split& split,
                                                     const std::vector<unsigned char>& prefix,
                                                     int level);

struct ZSTD_CCtx_s;

// One frame written a piece at a time, for data too large to hold: with the
// content size when it is known beforehand (`pledged`), otherwise without
// it. The same level's parameters and window bound as CompressZstd; the
// pieces are compressed as zstd's own blocks cut them, so the frame does not
// depend on how the data was split into calls.
class ZstdWriter {
 public:
  static constexpr uint64_t kUnknownSize = UINT64_MAX;
  ZstdWriter(int level, ZstdFrame frame, uint64_t pledged);
  ~ZstdWriter();
  ZstdWriter(const ZstdWriter&) = delete;
  ZstdWriter& operator=(const ZstdWriter&) = delete;

  void Add(const unsigned char* data, size_t size);
  // Ends the frame; nothing at all when no byte was added (an empty stream
  // stores nothing).
  std::vector<unsigned char> Finish();
  // Compressed bytes so far (those zstd has let out), to give up early on a
  // frame that has already lost.
  uint64_t WrittenSoFar() const { return out_.size(); }

 private:
  void Drain(const unsigned char* data, size_t size, int mode);

  ZSTD_CCtx_s* context_ = nullptr;
  std::vector<unsigned char> out_;
  std::vector<unsigned char> buffer_;
  bool any_ = false;
};
