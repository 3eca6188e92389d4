// Deltas made by hand for large files, where mkpatch's search for matches
// would take long under emulation: the new file is the old one with a few
// bytes changed, stored as one copy of the whole old file with its
// differences (zero but at the changes), compressed quickly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "payload_builder.h"

// The entry of the file at `path` that turns `old` into `*fresh`: `old`
// with 0x5A added to the byte at each of `changes`; ENTRY_FLAG_STEP in
// `flags` makes it a step toward the file's new bytes.
PayloadFile HandMadeDeltaEntry(const std::string& path, const std::string& old,
                               const std::vector<size_t>& changes, std::string* fresh,
                               uint8_t flags = 0);
