// Whether an entry's name from the payload may be used as a path below the
// extraction directory. The payload is untrusted input: a name must not climb
// out of the directory, name a device or alias another name once Windows has
// trimmed it.
#pragma once

#include <cstddef>

// True when `field` (fieldSize bytes, normally 80) holds a NUL and the name
// before it is empty (the unnamed package) or a safe relative path with '\\'
// or '/' separators. The scan is aware of GBK double-byte characters.
bool IsSafeEntryName(const char* field, size_t fieldSize);

// Why the name is refused, as a short English phrase; nullptr when it is safe.
const char* EntryNameProblem(const char* field, size_t fieldSize);
