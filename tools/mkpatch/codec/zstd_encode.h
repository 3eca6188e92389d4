// zstd frames as mkpatch stores them: one frame with the content size and no
// checksum (the entry's MD5 covers the bytes), single-threaded and with fixed
// parameters, so the same input gives the same bytes on every platform, and
// a window the updater accepts (ENTRY_ZSTD_WINDOW_LOG_MAX).
#pragma once

#include <cstddef>
#include <vector>

enum class ZstdFrame {
  Standard,   // RFC 8878 frames, as an entry coded Zstd holds them
  Magicless,  // without the 4-byte magic number, as a delta's streams hold them
};

// Levels as zstd numbers them (1..22).
std::vector<unsigned char> CompressZstd(const unsigned char* data, size_t size, int level,
                                        ZstdFrame frame = ZstdFrame::Standard);
