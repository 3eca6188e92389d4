// Hand-made x86 and x64 Windows images for the tests of the reference-aware
// delta: code sections of functions that call each other, jump within
// themselves and read data (x86 through relocated absolute addresses, x64
// RIP-relative), a table of function pointers in read-only data, data with a
// zero-filled tail, x64 exception entries, and the base-relocation table
// listing every pointer. Every reference the image holds is recorded, so a
// test can check that the finder sees exactly those.
//
// The next build of a program is the same description with a function
// inserted near the front (everything behind it moves), one function's body
// changed and the data grown: what a rebuild does to an executable.
#pragma once

#include <cstdint>
#include <vector>

#include "update/codec/pe_references.h"

using Bytes = std::vector<unsigned char>;

struct ImageRecipe {
  bool x64 = false;
  uint32_t seed = 1;
  uint32_t functions = 120;
  // A function of this many filler instructions is inserted before function
  // 3 (0: none); it calls functions of its own build.
  uint32_t insertedFunction = 0;
  // Function 7's body gets this many more filler instructions.
  uint32_t grownFunction = 0;
  // Bytes added to the initialised data before the variables.
  uint32_t dataGrowth = 0;
  bool relocations = true;
  uint64_t imageBase = 0;  // 0: 0x10000000 (x86) or 0x180000000 (x64)
};

struct MadeReference {
  uint32_t location;  // file position
  ReferenceKind kind;
  uint32_t target;  // RVA
};

inline bool operator==(const MadeReference& a, const MadeReference& b) {
  return a.location == b.location && a.kind == b.kind && a.target == b.target;
}

struct MadeImage {
  Bytes bytes;
  std::vector<MadeReference> references;  // sorted by location
  uint32_t relocationOffset = 0;          // file position of the relocation table
  uint32_t relocationSize = 0;
};

MadeImage MakeImage(const ImageRecipe& recipe);
