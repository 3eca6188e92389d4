// Formatting into fixed buffers, and copying into them. Every composed
// path, command text, failure text and log line goes through here, so that
// none can overrun its buffer: a text that does not fit is cut before a lone
// lead byte, never inside a double-byte character of code page 936, and is
// always terminated. Portable.
#pragma once

#include <stdarg.h>
#include <stddef.h>

// printf-style functions say so, and the compiler checks their callers.
#if defined(__GNUC__)
#define PRINTF_CHECK(formatIndex, firstIndex) \
  __attribute__((format(printf, formatIndex, firstIndex)))
#else
#define PRINTF_CHECK(formatIndex, firstIndex)
#endif

// Formats into `buffer` (always terminated when size > 0, cut when the text
// does not fit) and returns the length the whole text needs, or a negative
// value on a format error. C99 vsnprintf on every platform: on Windows the
// system C runtime's formatter, since the C99 one MinGW would link instead
// adds 25 KB to Update.exe, which every patch carries, for conversions the
// programs never use.
int FormatMeasured(char* buffer, size_t size, const char* format, va_list args) PRINTF_CHECK(3, 0);

// Formats into `target` and returns the length of the text there; a text
// that does not fit is cut at a whole character.
size_t FormatBounded(char* target, size_t size, const char* format, va_list args)
    PRINTF_CHECK(3, 0);
size_t FormatText(char* target, size_t size, const char* format, ...) PRINTF_CHECK(3, 4);

// The same, saying whether the whole text fitted (`size` at least 1).
bool FormatFitted(char* buffer, size_t size, const char* format, ...) PRINTF_CHECK(3, 4);
bool FormatFittedV(char* buffer, size_t size, const char* format, va_list args) PRINTF_CHECK(3, 0);

// Copies as much of `source` as fits; the result is always terminated.
void CopyText(char* target, size_t size, const char* source);
// Appends as much of `source` as fits after the text already in `target`.
void AppendText(char* target, size_t size, const char* source);
// Ends `text` before a trailing lead byte whose second byte is missing.
void CutAtWholeCharacter(char* text);
