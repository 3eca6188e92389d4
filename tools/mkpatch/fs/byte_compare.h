// Comparing file contents by streaming them, a chunk at a time.
#pragma once

#include <cstdint>
#include <cstdio>

// Whether `length` bytes at two places (possibly in one file) are equal.
// False when a read fails.
bool CompareBytes(FILE* a, uint64_t aOffset, FILE* b, uint64_t bOffset, uint64_t length,
                  bool* same);
