#include "update/codec/branch_prediction.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "update/base/little_endian.h"
#include "update/codec/opcode_scan.h"

bool CopyMap::Add(uint64_t oldStart, uint64_t newStart, uint64_t length) {
  if (length == 0 || length < minimumLength_ || count_ >= COPY_MAP_MAX_ENTRIES) return true;
  if (count_ == capacity_) {
    // Grown by hand without exceptions: the updater is built without them.
    const size_t capacity = capacity_ == 0 ? 256 : capacity_ * 2;
    std::unique_ptr<Entry[]> grown(new (std::nothrow) Entry[capacity]);
    if (!grown) return false;
    if (count_ != 0) std::memcpy(grown.get(), entries_.get(), count_ * sizeof(Entry));
    entries_ = std::move(grown);
    capacity_ = capacity;
  }
  entries_[count_] =
      Entry{oldStart, static_cast<uint32_t>(newStart - oldStart), static_cast<uint32_t>(count_)};
  ++count_;
  return true;
}

void CopyMap::Finish() {
  // Of two copies from one place, the earlier command counts.
  // (A plain sort on the command order too: a stable sort would bring its
  // merge buffers into the updater for nothing.)
  Entry* begin = entries_.get();
  std::sort(begin, begin + count_, [](const Entry& a, const Entry& b) {
    return a.oldStart != b.oldStart ? a.oldStart < b.oldStart : a.order < b.order;
  });
  count_ = static_cast<size_t>(
      std::unique(begin, begin + count_,
                  [](const Entry& a, const Entry& b) { return a.oldStart == b.oldStart; }) -
      begin);
}

uint32_t CopyMap::ShiftAt(uint64_t oldPosition) const {
  const Entry* begin = entries_.get();
  const Entry* after = std::upper_bound(
      begin, begin + count_, oldPosition,
      [](uint64_t position, const Entry& entry) { return position < entry.oldStart; });
  return after == begin ? 0 : (after - 1)->shift;
}

void PredictBranches(const CopyMap& map, uint64_t oldPosition, uint32_t copyShift, uint64_t oldSize,
                     const unsigned char* old, size_t length, size_t lookahead, unsigned char* out,
                     SiteCarry& carry) {
  size_t i = 0;
  // Bytes of a site that began in the previous chunk.
  const size_t owed = carry.count < length ? carry.count : length;
  for (; i < owed; ++i) out[i] = carry.bytes[i];
  for (size_t k = owed; k < carry.count; ++k) carry.bytes[k - owed] = carry.bytes[k];
  carry.count -= owed;
  if (carry.count != 0) return;

  const size_t available = length + (lookahead < 4 ? lookahead : 4);
  while (i < length) {
    const size_t next = NextBranchOpcode(old, i, length);
    std::memcpy(out + i, old + i, next - i);
    i = next;
    if (i == length) break;
    const unsigned char opcode = old[i];
    if (i + 4 >= available || (old[i + 4] != 0x00 && old[i + 4] != 0xFF)) {
      out[i] = opcode;
      ++i;
      continue;
    }
    uint32_t value = ReadLe32(old + i + 1);
    const uint64_t site = oldPosition + i;
    // The target as the old file placed it: after the five bytes, displaced.
    const int64_t target = static_cast<int64_t>(site + 5) + static_cast<int32_t>(value);
    if (target >= 0 && static_cast<uint64_t>(target) < oldSize) {
      value += map.ShiftAt(static_cast<uint64_t>(target)) - copyShift;
    }
    out[i] = opcode;
    for (size_t k = 0; k < 4; ++k) {
      const unsigned char byte = static_cast<unsigned char>(value >> (8 * k));
      const size_t at = i + 1 + k;
      if (at < length) {
        out[at] = byte;
      } else {
        carry.bytes[carry.count++] = byte;
      }
    }
    i += 5;
  }
}
