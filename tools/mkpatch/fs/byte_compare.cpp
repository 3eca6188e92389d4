#include "mkpatch/fs/byte_compare.h"

#include <cstring>
#include <vector>

#include "mkpatch/fs/file_system.h"

bool CompareBytes(FILE* a, uint64_t aOffset, FILE* b, uint64_t bOffset, uint64_t length,
                  bool* same) {
  const size_t kChunkSize = 1 << 16;
  std::vector<unsigned char> left(kChunkSize), right(kChunkSize);
  while (length > 0) {
    size_t want = length < kChunkSize ? static_cast<size_t>(length) : kChunkSize;
    if (!SeekTo(a, aOffset) || std::fread(left.data(), 1, want, a) != want) return false;
    if (!SeekTo(b, bOffset) || std::fread(right.data(), 1, want, b) != want) return false;
    if (std::memcmp(left.data(), right.data(), want) != 0) {
      *same = false;
      return true;
    }
    aOffset += want;
    bOffset += want;
    length -= want;
  }
  *same = true;
  return true;
}
