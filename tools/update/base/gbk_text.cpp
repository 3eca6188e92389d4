#include "update/base/gbk_text.h"

#include <cstring>

bool IsGbkLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

const char* NextChar(const char* text) {
  if (*text == '\0') return text;
  // A lead byte right before the terminator stands alone; do not step over the NUL.
  if (IsGbkLeadByte(static_cast<unsigned char>(text[0])) && text[1] != '\0') return text + 2;
  return text + 1;
}

const char* FindLastSeparator(const char* text, const char* separators) {
  const char* last = nullptr;
  for (const char* p = text; *p != '\0'; p = NextChar(p)) {
    bool doubleByte = NextChar(p) - p == 2;
    if (!doubleByte && std::strchr(separators, *p) != nullptr) last = p;
  }
  return last;
}

const char* FindLastChar(const char* text, char c) {
  const char separators[2] = {c, '\0'};
  return c == '\0' ? nullptr : FindLastSeparator(text, separators);
}
