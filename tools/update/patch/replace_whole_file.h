// Putting a file into the game directory so that the game never sees it
// half-written.
#pragma once

// Copies `source` over `destination`, replacing an existing file. The bytes
// go to a temporary file in `directory` (the destination's own directory, so
// the final step is a rename on one volume) which then replaces the
// destination in one step: a crash or a full disk leaves the old file or the
// whole new one, never a torn mix. The temporary file is removed on failure.
bool ReplaceWholeFile(const char* source, const char* destination, const char* directory);
