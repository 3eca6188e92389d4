// Numbers stored little-endian, as every field of the updater file and of a
// PE image is: read and written byte by byte, so that the result does not
// depend on the host's byte order or alignment. Compilers turn each into one
// plain load or store on little-endian machines.
#pragma once

#include <cstdint>

inline uint16_t ReadLe16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t ReadLe32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t ReadLe64(const unsigned char* p) {
  return static_cast<uint64_t>(ReadLe32(p)) | (static_cast<uint64_t>(ReadLe32(p + 4)) << 32);
}

inline void WriteLe16(unsigned char* p, uint16_t value) {
  p[0] = static_cast<unsigned char>(value);
  p[1] = static_cast<unsigned char>(value >> 8);
}

inline void WriteLe32(unsigned char* p, uint32_t value) {
  p[0] = static_cast<unsigned char>(value);
  p[1] = static_cast<unsigned char>(value >> 8);
  p[2] = static_cast<unsigned char>(value >> 16);
  p[3] = static_cast<unsigned char>(value >> 24);
}

inline void WriteLe64(unsigned char* p, uint64_t value) {
  WriteLe32(p, static_cast<uint32_t>(value));
  WriteLe32(p + 4, static_cast<uint32_t>(value >> 32));
}
