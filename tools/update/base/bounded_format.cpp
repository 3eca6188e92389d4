#include "update/base/bounded_format.h"

#include <stdio.h>
#include <string.h>

#include "update/base/gbk_text.h"

void CopyText(char* target, size_t size, const char* source) {
  if (size == 0) return;
  target[0] = '\0';
  AppendText(target, size, source);
}

void AppendText(char* target, size_t size, const char* source) {
  if (size == 0 || !source) return;
  size_t used = strnlen(target, size - 1);
  size_t room = size - 1 - used;
  size_t take = strnlen(source, room);
  memcpy(target + used, source, take);
  target[used + take] = '\0';
}

void CutAtWholeCharacter(char* text) {
  for (size_t i = 0; text[i] != '\0'; ++i) {
    if (IsGbkLeadByte(static_cast<unsigned char>(text[i]))) {
      if (text[i + 1] == '\0') {
        text[i] = '\0';
        return;
      }
      ++i;
    }
  }
}

size_t FormatBounded(char* target, size_t size, const char* format, va_list args) {
  if (size == 0) return 0;
  int written = FormatMeasured(target, size, format, args);
  if (written < 0 || static_cast<size_t>(written) >= size) {
    CutAtWholeCharacter(target);
    return strlen(target);
  }
  return static_cast<size_t>(written);
}

size_t FormatText(char* target, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  size_t length = FormatBounded(target, size, format, args);
  va_end(args);
  return length;
}

int FormatMeasured(char* buffer, size_t size, const char* format, va_list args) {
#ifdef _WIN32
  va_list measure;
  va_copy(measure, args);
  const int needed = _vscprintf(format, measure);
  va_end(measure);
  if (size == 0) return needed;
  if (needed < 0) {
    buffer[0] = '\0';
    return needed;
  }
  const size_t room = size - 1;
#ifdef _MSC_VER
  _vsnprintf_s(buffer, size, _TRUNCATE, format, args);
#else
  // Neither terminates nor says how much it cut: both come from `needed`.
  _vsnprintf(buffer, room, format, args);
#endif
  buffer[static_cast<size_t>(needed) < room ? static_cast<size_t>(needed) : room] = '\0';
  return needed;
#else
  return vsnprintf(buffer, size, format, args);
#endif
}

bool FormatFitted(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  bool fitted = FormatFittedV(buffer, size, format, args);
  va_end(args);
  return fitted;
}

bool FormatFittedV(char* buffer, size_t size, const char* format, va_list args) {
  if (size == 0) return false;
  // Measured on a copy first: some runtimes report a cut only as -1.
  va_list measure;
  va_copy(measure, args);
  int needed = FormatMeasured(nullptr, 0, format, measure);
  va_end(measure);
  FormatBounded(buffer, size, format, args);
  return needed >= 0 && static_cast<size_t>(needed) < size;
}
