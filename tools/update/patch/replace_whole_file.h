// Putting a file into the game directory so that the game never sees it
// half-written.
#pragma once

// Appended to the destination's name for the copy that replaces it. A copy
// that a killed run left behind has the same name and is overwritten, then
// renamed, by the next run that installs that file; the game uses no such name.
extern const char REPLACEMENT_SUFFIX[];

// Copies `source` over `destination`, replacing an existing file. The bytes
// go to `destination` + REPLACEMENT_SUFFIX beside it (so the final step is a
// rename on one volume), which then replaces the destination in one step: a
// crash or a full disk leaves the old file or the whole new one, never a torn
// mix. The copy is removed on failure.
bool ReplaceWholeFile(const char* source, const char* destination);
