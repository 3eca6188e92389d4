// Removing a folder the updater made, with everything in it.
#pragma once

// Deletes `path` and everything below it, read-only files included; a missing
// path is not an error. A link or junction inside (or `path` itself, if it is
// one) is removed as a link: what it points to is never entered.
void RemoveTree(const char* path);
