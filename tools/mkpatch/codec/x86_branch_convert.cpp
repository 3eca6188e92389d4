#include "mkpatch/codec/x86_branch_convert.h"

#include <cstdint>

#include "update/base/little_endian.h"
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
    WriteLe32(bytes + at + 1, ReadLe32(bytes + at + 1) + static_cast<uint32_t>(at + 5));
    at += 4;
  }
  return split;
}
