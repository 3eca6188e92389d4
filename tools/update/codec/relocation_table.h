// A base-relocation table as linkers write it, from the addresses of the
// pointers it lists: one block per 4 KiB page in address order (page RVA,
// block size, then a 16-bit entry per pointer: its type in the top four bits
// and its offset in the page), each block padded to four bytes with an
// empty entry. The reference-aware delta builds the new file's table this
// way from the old file's pointers where they moved to, so that the table
// costs only what really changed.
#pragma once

#include <cstddef>
#include <cstdint>

// An entry: the pointer's RVA in the low 30 bits, RELOCATION_WIDE for a
// 64-bit pointer (else 32-bit).
constexpr uint32_t RELOCATION_WIDE = uint32_t(1) << 31;
constexpr uint32_t RELOCATION_RVA_MASK = (uint32_t(1) << 30) - 1;

// Sorts `entries` by RVA and drops repeats of one RVA (the first stays).
// Returns the count kept.
size_t SortRelocations(uint32_t* entries, size_t count);

// Bytes of the table of `count` sorted, distinct entries.
uint64_t RelocationTableSize(const uint32_t* entries, size_t count);

// Writes the table (RelocationTableSize bytes) to `out`.
void WriteRelocationTable(const uint32_t* entries, size_t count, unsigned char* out);
