// Putting a file into the game directory so that the game never sees it
// half-written.
#pragma once

#include <windows.h>

#include "update/files/file_retry.h"

// Appended to the destination's name for the copy that replaces it. A copy
// that a killed run left behind has the same name and is overwritten, then
// renamed, by the next run that installs that file; the game uses no such name.
extern const char REPLACEMENT_SUFFIX[];
// Appended to a file's name for the copy the commit keeps of it while it is
// replaced or removed, until the commit has ended (install/commit.h); the
// same length, so a path with room for one has room for the other.
extern const char BACKUP_SUFFIX[];

// Copies `source` over `destination`, replacing an existing file. The bytes
// go to `destination` + REPLACEMENT_SUFFIX beside it (so the final step is a
// rename on one volume), which then replaces the destination in one step: a
// crash or a full disk leaves the old file or the whole new one, never a torn
// mix. The copy is removed on failure.
SystemResult ReplaceWholeFile(const char* source, const char* destination);

// The first half of that, for a run that stages every file before it
// replaces the first: `source` copied to `destination` + REPLACEMENT_SUFFIX
// and flushed, the destination untouched. The copy is removed on failure.
SystemResult StageWholeFile(const char* source, const char* destination);

// The steps of that, for callers that write the copy themselves.
//
// Names the copy beside `destination`; fails (ERROR_FILENAME_EXCED_RANGE)
// when that name does not fit a path.
SystemResult ReplacementPath(const char* destination, char (&replacement)[MAX_PATH]);
// Refuses (ERROR_ACCESS_DENIED) a folder, or a read-only or hidden
// destination: a copy would refuse it, a rename would not. A copy that a killed run
// left is ours, and is made writable to be overwritten.
SystemResult PrepareReplacement(const char* destination, const char* replacement);
// Makes the finished copy, on disk already, the destination in one step,
// within `retry`'s budget.
SystemResult MoveReplacementIntoPlace(FileRetry& retry, const char* replacement,
                                      const char* destination);
