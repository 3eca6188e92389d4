// The shapes of a log line: timestamp, level suffix, console mode.
#pragma once

#include <windows.h>
#include <stddef.h>

const int LOG_STAMP_SIZE = 100;

// printf format of a line; its arguments are the timestamp and the message
// (a format with one %s takes the message as its only argument).
const char* LineFormat(bool statusLineMode, int level);
// True when LineFormat's format takes the message alone.
bool LineTakesMessageOnly(bool statusLineMode, int level);
// Bytes a line needs beyond its message for the decorations of its format.
size_t LineDecorationRoom(bool statusLineMode, int level);
void FormatTimestamp(char* target, size_t size, const SYSTEMTIME& now);
