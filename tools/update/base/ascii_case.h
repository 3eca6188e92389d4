// ASCII letters without regard to case, every other byte as it is. Safe on
// UTF-8 (bytes below 0x80 are always whole characters) and on texts matched
// against ASCII words; a file name needs FoldGbkName (gbk_text.h), since its
// trail bytes can look like letters and Windows folds some double-byte
// letters too.
#pragma once

#include <string>

inline char FoldAsciiLetter(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// `text` with its ASCII letters in lower case.
inline std::string FoldAsciiCase(std::string text) {
  for (char& c : text) c = FoldAsciiLetter(c);
  return text;
}

inline bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAsciiLetter(a[i]) != FoldAsciiLetter(b[i])) return false;
  }
  return true;
}
