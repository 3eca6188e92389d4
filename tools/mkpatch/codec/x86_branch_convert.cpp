#include "mkpatch/codec/x86_branch_convert.h"

#include <cstdint>

#include "update/codec/x86_branch_filter.h"

X86Split ConvertX86Branches(const unsigned char* data, size_t size) {
  X86Split split;
  split.main.assign(data, data + size);
  unsigned char* bytes = split.main.data();
  for (size_t at = 0; at < size; ++at) {
    if (!IsX86BranchOpcode(bytes[at])) continue;
    const bool site = at + 4 < size && (bytes[at + 4] == 0x00 || bytes[at + 4] == 0xFF);
    split.flags.push_back(site ? 1 : 0);
    if (!site) continue;
    uint32_t value =
        static_cast<uint32_t>(bytes[at + 1]) | static_cast<uint32_t>(bytes[at + 2]) << 8 |
        static_cast<uint32_t>(bytes[at + 3]) << 16 | static_cast<uint32_t>(bytes[at + 4]) << 24;
    value += static_cast<uint32_t>(at + 5);
    for (int k = 0; k < 4; ++k) bytes[at + 1 + k] = static_cast<unsigned char>(value >> (8 * k));
    at += 4;
  }
  return split;
}
