// Formatting into the engine's fixed buffers. Every composed path, command
// text and failure text goes through here so that none can overrun its buffer,
// and the callers learn whether the whole text fitted.
#pragma once

#include <cstdarg>
#include <cstddef>

// Formats into `buffer` (capacity `size`, at least 1). Returns true when the
// whole text fitted; otherwise the buffer holds the text cut before the first
// character that did not fit (never half of a double-byte character), still
// terminated.
bool FormatFitted(char* buffer, size_t size, const char* format, ...);
bool FormatFittedV(char* buffer, size_t size, const char* format, va_list args);
