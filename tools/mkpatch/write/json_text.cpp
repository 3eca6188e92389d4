#include "mkpatch/write/json_text.h"

#include <cstdio>

std::string JsonString(const std::string& utf8) {
  std::string quoted = "\"";
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      quoted += escape;
    } else {
      quoted += static_cast<char>(c);
    }
  }
  return quoted + "\"";
}

std::string JsonStrings(const std::vector<std::string>& utf8) {
  std::string json = "[";
  for (size_t i = 0; i < utf8.size(); ++i) json += (i ? "," : "") + JsonString(utf8[i]);
  return json + "]";
}
