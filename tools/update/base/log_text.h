// Bounded text helpers shared by the logger and the work queue.
#pragma once

#include <stdarg.h>
#include <stddef.h>

// Copies as much of `source` as fits; the result is always terminated.
void CopyText(char* target, size_t size, const char* source);
// Appends as much of `source` as fits after the text already in `target`.
void AppendText(char* target, size_t size, const char* source);
// vsnprintf that always terminates and, when the text does not fit, cuts it
// before a lone lead byte so a double-byte character is never split.
// Returns the length of the text in `target`.
size_t FormatBounded(char* target, size_t size, const char* format, va_list args);
size_t FormatText(char* target, size_t size, const char* format, ...);
// Ends `text` before a trailing lead byte whose second byte is missing.
void CutAtWholeCharacter(char* text);
