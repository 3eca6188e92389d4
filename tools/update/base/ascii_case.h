// Comparing names as Windows does for ASCII letters. Safe on UTF-8 (bytes
// below 0x80 are always whole characters) and on texts matched against
// ASCII words; not on GBK names, whose trail bytes can look like letters.
#pragma once

#include <string>

inline bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}
