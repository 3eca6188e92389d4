#include "update/codec/relocation_table.h"

#include <algorithm>

namespace {

constexpr uint32_t kPageMask = ~uint32_t(0xFFF);
constexpr uint16_t kHighLow = 3;
constexpr uint16_t kDir64 = 10;

uint32_t Rva(uint32_t entry) { return entry & RELOCATION_RVA_MASK; }

void Put32(unsigned char* out, uint32_t value) {
  for (int k = 0; k < 4; ++k) out[k] = static_cast<unsigned char>(value >> (8 * k));
}

// Entries [first, end) share the page of `first`; returns the end.
size_t PageEnd(const uint32_t* entries, size_t first, size_t count) {
  size_t end = first;
  while (end < count && (Rva(entries[end]) & kPageMask) == (Rva(entries[first]) & kPageMask)) ++end;
  return end;
}

}  // namespace

size_t SortRelocations(uint32_t* entries, size_t count) {
  // The type takes part in the order only to make it total: equal RVAs
  // keep the 32-bit pointer, whichever came first.
  const auto before = [](uint32_t a, uint32_t b) {
    return Rva(a) != Rva(b) ? Rva(a) < Rva(b) : a < b;
  };
  // A delta's copies come in the new file's order, and with them mostly
  // its pointers: the check is far cheaper than the sort.
  if (!std::is_sorted(entries, entries + count, before))
    std::sort(entries, entries + count, before);
  uint32_t* end = std::unique(entries, entries + count,
                              [](uint32_t a, uint32_t b) { return Rva(a) == Rva(b); });
  return static_cast<size_t>(end - entries);
}

uint64_t RelocationTableSize(const uint32_t* entries, size_t count) {
  uint64_t size = 0;
  for (size_t first = 0; first < count;) {
    const size_t end = PageEnd(entries, first, count);
    const uint64_t used = end - first;
    size += 8 + 2 * (used + (used & 1));
    first = end;
  }
  return size;
}

void WriteRelocationTable(const uint32_t* entries, size_t count, unsigned char* out) {
  for (size_t first = 0; first < count;) {
    const size_t end = PageEnd(entries, first, count);
    const uint32_t used = static_cast<uint32_t>(end - first);
    const uint32_t padded = used + (used & 1);
    Put32(out, Rva(entries[first]) & kPageMask);
    Put32(out + 4, 8 + 2 * padded);
    out += 8;
    for (size_t i = first; i < end; ++i) {
      const uint16_t type = (entries[i] & RELOCATION_WIDE) != 0 ? kDir64 : kHighLow;
      const uint16_t value = static_cast<uint16_t>(type << 12 | (Rva(entries[i]) & 0xFFF));
      out[0] = static_cast<unsigned char>(value);
      out[1] = static_cast<unsigned char>(value >> 8);
      out += 2;
    }
    if (used & 1) {
      out[0] = out[1] = 0;
      out += 2;
    }
    first = end;
  }
}
