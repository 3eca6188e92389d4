#include "mkpatch/codec/suffix_index.h"

#include <divsufsort.h>

#include <new>

namespace {

const size_t kIndexLimit = size_t(1) << 31;

}  // namespace

SuffixIndex::SuffixIndex(const unsigned char* data, size_t size)
    : data_(data), size_(size < kIndexLimit ? size : 0) {
  if (size_ == 0) return;
  suffixes_.resize(size_);
  // It fails only when its working memory cannot be had.
  if (divsufsort(data_, suffixes_.data(), static_cast<saidx_t>(size_)) != 0) {
    throw std::bad_alloc();
  }
}

size_t SuffixIndex::CommonPrefix(size_t suffix, const unsigned char* text, size_t length,
                                 size_t skip) const {
  const unsigned char* old = data_ + suffix;
  const size_t limit = size_ - suffix < length ? size_ - suffix : length;
  size_t i = skip < limit ? skip : limit;
  while (i < limit && old[i] == text[i]) ++i;
  return i;
}

size_t SuffixIndex::LongestMatch(const unsigned char* text, size_t length, size_t* position) const {
  *position = 0;
  if (size_ == 0 || length == 0) return 0;
  // Binary search for where `text` would sort; the suffixes on either side
  // share the longest prefixes with it. Both bounds' common prefixes are
  // known, and every suffix between them shares at least the smaller one.
  size_t low = 0, high = size_ - 1;
  size_t lowCommon = CommonPrefix(static_cast<size_t>(suffixes_[low]), text, length, 0);
  size_t highCommon = CommonPrefix(static_cast<size_t>(suffixes_[high]), text, length, 0);
  while (high - low > 1) {
    const size_t middle = low + (high - low) / 2;
    const size_t suffix = static_cast<size_t>(suffixes_[middle]);
    const size_t common =
        CommonPrefix(suffix, text, length, lowCommon < highCommon ? lowCommon : highCommon);
    if (common == length) {
      *position = suffix;
      return common;
    }
    // A suffix that ended sorts before every longer text it is a prefix of.
    if (suffix + common == size_ || data_[suffix + common] < text[common]) {
      low = middle;
      lowCommon = common;
    } else {
      high = middle;
      highCommon = common;
    }
  }
  if (lowCommon >= highCommon) {
    *position = static_cast<size_t>(suffixes_[low]);
    return lowCommon;
  }
  *position = static_cast<size_t>(suffixes_[high]);
  return highCommon;
}
