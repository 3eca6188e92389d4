// Reading a file through a synchronous handle at a position of the caller's.
#pragma once

#include <windows.h>

#include <cstdint>

// Reads up to `length` bytes at `offset` of `file`; *bytesRead says how many
// came (fewer only at the end of the file). False on a seek or read error.
bool ReadHandleAt(HANDLE file, uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead);
