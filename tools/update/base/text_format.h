// C99 vsnprintf on every platform the updater builds for.
#pragma once

#include <cstdarg>
#include <cstddef>

// Formats into `buffer` (always terminated when size > 0, cut when the text
// does not fit) and returns the length the whole text needs, or a negative
// value on a format error. On Windows it uses the system C runtime's
// formatter: the C99 one MinGW would link instead adds 25 KB to Update.exe,
// which every patch carries, for conversions the programs never use.
int FormatMeasured(char* buffer, size_t size, const char* format, va_list args);
