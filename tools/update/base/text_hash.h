// A quick hash of a text, for looking names up without a map: FNV-1a, 32 bits.
#pragma once

#include <cstdint>
#include <string>

inline uint32_t HashText(const std::string& text) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : text) hash = (hash ^ c) * 16777619u;
  return hash;
}
