// Paths in the user's temporary directory, where entries are extracted and
// the launcher is started from.
#pragma once

#include <windows.h>

#include "update/session/update_session.h"

enum class TempPathResult {
  Ok,
  NoTempDir,  // the system could not name the temporary directory
  TooLong,    // the composed path would not fit its buffer
};

// Composes "%s\%s" from the temporary directory as the system reports it and
// `name`. The system's text already ends in a backslash, so the result holds
// a doubled separator, which the file system accepts. On NoTempDir `detail`
// receives the system's error code, or, when the directory's name alone is
// too long for the buffer, the buffer size the system asked for; on TooLong
// the length the path needed.
TempPathResult ComposeTempPath(const char* name, char (&path)[UPDATE_PATH_SIZE], DWORD* detail);
