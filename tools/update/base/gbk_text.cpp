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

namespace {

// The double-byte letters of code page 936 whose other case is in it too.
// Windows compares names through its upper-case table, which pairs these as
// it pairs 'A' and 'a', so `Ω.dat` and `ω.dat` are one file there. Each row:
// the lead byte, the trail bytes of the capitals, and those of their small
// letters in the same order.
struct GbkCaseRange {
  unsigned char lead;
  unsigned char firstCapital;
  unsigned char lastCapital;
  unsigned char firstSmall;
};

const GbkCaseRange kGbkCaseRanges[] = {
    {0xA2, 0xF1, 0xFA, 0xA1},  // Roman numerals I-X, small ones i-x
    {0xA3, 0xC1, 0xDA, 0xE1},  // fullwidth Latin A-Z, a-z
    {0xA6, 0xA1, 0xB8, 0xC1},  // Greek
    {0xA7, 0xA1, 0xC1, 0xD1},  // Cyrillic
};

// A double-byte character's trail byte in small letters where it has them.
char FoldGbkTrail(char lead, char trail) {
  const unsigned char leadByte = static_cast<unsigned char>(lead);
  const unsigned char trailByte = static_cast<unsigned char>(trail);
  for (const GbkCaseRange& range : kGbkCaseRanges) {
    if (leadByte == range.lead && trailByte >= range.firstCapital &&
        trailByte <= range.lastCapital) {
      return static_cast<char>(range.firstSmall + (trailByte - range.firstCapital));
    }
  }
  return trail;
}

}  // namespace

std::string FoldGbkName(const std::string& gbkName) {
  std::string folded;
  for (const char* p = gbkName.c_str(); *p != '\0';) {
    const char* next = NextChar(p);
    if (next - p == 1) {
      folded += *p == '/' ? '\\' : FoldAsciiLetter(*p);
    } else {
      folded += p[0];
      folded += FoldGbkTrail(p[0], p[1]);
    }
    p = next;
  }
  return folded;
}
