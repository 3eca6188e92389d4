#include "update/base/log_text.h"

#include <stdio.h>
#include <string.h>

#include "update/base/gbk_text.h"
#include "update/base/text_format.h"

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
