// Entries coded Lzma (lzma_stream.h) as mkpatch writes them: the branch
// conversion the file's code suits, LZMA2 at xz's level 9 with a
// dictionary no larger than the file needs (and the updater accepts),
// single-threaded, so the same input gives the same bytes on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The conversion a file's code suits (LZMA_CONVERSION_*): by the machine of
// a Windows image, none for anything else.
uint8_t LzmaConversionFor(const unsigned char* data, size_t size);

// The entry's stored bytes: header and LZMA2 stream.
std::vector<unsigned char> CompressLzma(const unsigned char* data, size_t size, uint8_t conversion);
