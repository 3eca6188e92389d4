#include "update/base/gbk_text.h"

#include <cstring>

#include "update/base/ascii_case.h"

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

std::string FoldGbkName(const std::string& gbkName) {
  std::string folded;
  for (const char* p = gbkName.c_str(); *p != '\0';) {
    const char* next = NextChar(p);
    if (next - p == 1) {
      folded += *p == '/' ? '\\' : FoldAsciiLetter(*p);
    } else {
      folded.append(p, next);  // double-byte characters have no case here
    }
    p = next;
  }
  return folded;
}
