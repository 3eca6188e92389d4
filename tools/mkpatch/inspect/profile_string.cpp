#include "mkpatch/inspect/profile_string.h"

#include <cstring>

#include "update/base/ascii_case.h"

namespace {

// Ctrl-Z counts as a blank too: old editors ended text files with it.
bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == '\x1A'; }

std::string Trimmed(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// A file saved as UTF-16 (with its byte order mark) is read as text too;
// names and version numbers are ASCII, anything else becomes '?'.
std::string AsSingleBytes(const std::string& bytes) {
  const bool littleEndian = bytes.compare(0, 2, "\xFF\xFE") == 0;
  const bool bigEndian = bytes.compare(0, 2, "\xFE\xFF") == 0;
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
  if (!littleEndian && !bigEndian) return bytes;
  std::string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    unsigned char low = static_cast<unsigned char>(bytes[littleEndian ? i : i + 1]);
    unsigned char high = static_cast<unsigned char>(bytes[littleEndian ? i + 1 : i]);
    text += high == 0 && low < 0x80 ? static_cast<char>(low) : '?';
  }
  return text;
}

std::string Unquoted(const std::string& value) {
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

bool ReadProfileString(const std::string& fileBytes, const char* section, const char* key,
                       size_t bufferSize, std::string* value) {
  value->clear();
  const std::string text = AsSingleBytes(fileBytes);
  bool inSection = false, sectionSeen = false;
  size_t next = 0;
  while (next < text.size()) {
    size_t end = text.find_first_of("\r\n", next);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trimmed(text.substr(next, end - next));
    next = end + 1;
    if (line.empty()) continue;
    size_t close = line.rfind(']');
    if (line[0] == '[' && close != std::string::npos) {
      // Only the first section of that name is searched.
      if (sectionSeen) return false;
      inSection = EqualsIgnoringAsciiCase(Trimmed(line.substr(1, close - 1)), section);
      sectionSeen = inSection;
      continue;
    }
    if (!inSection) continue;
    // A line without '=' is a key without a value; a comment line (';') is a
    // key whose name begins with ';', so it never matches.
    size_t equals = line.find('=');
    if (!EqualsIgnoringAsciiCase(Trimmed(line.substr(0, equals)), key)) continue;
    if (equals != std::string::npos) *value = Unquoted(Trimmed(line.substr(equals + 1)));
    value->resize(std::strlen(value->c_str()));  // the API's text ends at a NUL
    if (bufferSize > 0 && value->size() > bufferSize - 1) value->resize(bufferSize - 1);
    return true;
  }
  return false;
}
