#include "mkpatch/codec/x86_branch_convert.h"

#include "update/codec/x86_branch_filter.h"

X86Split ConvertX86Branches(const unsigned char* data, size_t size) {
  X86Split split;
  split.main.assign(data, data + size);
  ConvertX86Sites(split.main.data(), size, [&](bool site) { split.flags.push_back(site ? 1 : 0); });
  return split;
}
