// The encoding half of the x86 branch conversion of whole files
// (EntryCoding::ZstdX86, described with its decoder in
// update/codec/x86_branch_filter.h): the converted main stream and the flags.
#pragma once

#include <cstddef>
#include <vector>

struct X86Split {
  std::vector<unsigned char> main;
  std::vector<unsigned char> flags;
};

// The two streams for a whole file.
X86Split ConvertX86Branches(const unsigned char* data, size_t size);
