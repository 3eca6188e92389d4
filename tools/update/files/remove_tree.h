// Removing a folder the updater made, with everything in it.
#pragma once

#include <cstddef>

// Deletes `path` and everything below it, read-only files included; a missing
// path is not an error. A link or junction inside (or `path` itself, if it is
// one) is removed as a link: what it points to is never entered.
void RemoveTree(const char* path);

// Removes the folders above the file `path` that are left empty, from the
// nearest up, up to (not including) the folder whose path is the first
// `rootLength` bytes of `path`. Stops at the first that still holds
// something (or cannot be removed).
void RemoveEmptyParents(const char* path, size_t rootLength);
