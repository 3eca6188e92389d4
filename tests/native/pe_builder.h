// Builds minimal PE images in memory, signed the way a signing tool signs,
// for the tests of the signature reader and of mkpatch.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "update/format/payload.h"

using Bytes = std::vector<unsigned char>;

// A minimal PE32 image: DOS header, PE headers at 0x40 with 16 data
// directories, one section whose raw data ends the image at `imageSize`.
constexpr size_t kOptional = 0x40 + 4 + 20;
constexpr size_t kSecurityEntry = kOptional + 96 + 4 * 8;
constexpr size_t kSectionTable = kOptional + 224;

inline void Put16(Bytes& file, size_t at, uint16_t value) {
  file[at] = static_cast<unsigned char>(value);
  file[at + 1] = static_cast<unsigned char>(value >> 8);
}

inline Bytes MakeImage(size_t imageSize) {
  Bytes file(imageSize, 'I');
  std::fill(file.begin(), file.begin() + 0x200, 0);
  file[0] = 'M';
  file[1] = 'Z';
  WriteLe32(&file[0x3C], 0x40);
  file[0x40] = 'P';
  file[0x41] = 'E';
  Put16(file, 0x44 + 2, 1);     // NumberOfSections
  Put16(file, 0x44 + 16, 224);  // SizeOfOptionalHeader
  Put16(file, kOptional, 0x10B);
  WriteLe32(&file[kOptional + 92], 16);  // NumberOfRvaAndSizes
  WriteLe32(&file[kSectionTable + 16], static_cast<uint32_t>(imageSize - 0x200));
  WriteLe32(&file[kSectionTable + 20], 0x200);
  return file;
}

// What a signer does: zeros up to a multiple of 8, a certificate table of
// `tableSize` bytes, and directory entry 4 pointing at it.
inline Bytes Sign(Bytes file, uint32_t tableSize = 40) {
  while (file.size() % 8 != 0) file.push_back(0);
  const uint32_t offset = static_cast<uint32_t>(file.size());
  WriteLe32(&file[kSecurityEntry], offset);
  WriteLe32(&file[kSecurityEntry + 4], tableSize);
  file.resize(file.size() + tableSize, 0x30);
  WriteLe32(&file[offset], tableSize);  // WIN_CERTIFICATE dwLength
  return file;
}
