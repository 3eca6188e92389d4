// The old file with its suffix array, for finding the longest run of the old
// file's bytes that any position of the new file starts with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class SuffixIndex {
 public:
  // `data` must outlive the index. Files of 2 GiB or more are not indexed
  // (the array's entries are 32-bit); such an index finds no matches.
  SuffixIndex(const unsigned char* data, size_t size);

  // The length of the longest prefix of `text` (`length` bytes) that occurs
  // in the old file, and in *position one place where it starts. 0 when no
  // byte matches.
  size_t LongestMatch(const unsigned char* text, size_t length, size_t* position) const;

  // The old file's bytes.
  const unsigned char* Data() const { return data_; }
  size_t Size() const { return size_; }

 private:
  size_t CommonPrefix(size_t suffix, const unsigned char* text, size_t length, size_t skip) const;

  const unsigned char* data_;
  size_t size_;
  std::vector<int32_t> suffixes_;
};
