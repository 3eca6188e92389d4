// Failure texts that name a file of the game. The box gets the first 100
// bytes (RUN_FAILURE_TEXT_SIZE) as every failure text does; a path that does
// not fit there is cut, so the log gets the whole line as well.
#pragma once

#include "update/session/run_failure.h"

// `format` and its arguments, as above.
void SetNamedFailure(RunFailure& failure, DWORD code, const char* format, ...) PRINTF_CHECK(3, 4);

// The installed files are not the build the patch was made from (or a link
// is in the way): the run is refused before its first write.
void SetSourceMismatch(RunFailure& failure, const char* path);
// A file the run writes (or renames into place), reads, or removes failed
// with the system's `error`.
void SetWriteFailure(RunFailure& failure, const char* path, DWORD error);
void SetReadFailure(RunFailure& failure, const char* path, DWORD error);
void SetRemoveFailure(RunFailure& failure, const char* path, DWORD error);
