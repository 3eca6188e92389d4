#include "update/format/entry_name.h"

#include <cctype>
#include <cstring>

#include "update/base/gbk_text.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsGbkTrailByte(unsigned char byte) { return byte >= 0x40 && byte <= 0xFE && byte != 0x7F; }

bool EqualsIgnoringCase(const char* text, size_t length, const char* word) {
  if (std::strlen(word) != length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) != word[i]) return false;
  }
  return true;
}

// Windows opens a device for these whatever extension follows, and ignores
// blanks before the extension.
bool IsReservedDeviceName(const char* part, size_t length) {
  size_t stem = 0;
  while (stem < length && part[stem] != '.') ++stem;
  while (stem > 0 && part[stem - 1] == ' ') --stem;
  static const char* const kFixed[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* word : kFixed) {
    if (EqualsIgnoringCase(part, stem, word)) return true;
  }
  if (stem == 4 && (EqualsIgnoringCase(part, 3, "COM") || EqualsIgnoringCase(part, 3, "LPT"))) {
    return part[3] >= '1' && part[3] <= '9';
  }
  return false;
}

// Checks one path part; nullptr when it is fine.
const char* PartProblem(const char* part, size_t length) {
  if (length == 0) return "empty path part (doubled or trailing separator)";
  if ((length == 1 && part[0] == '.') || (length == 2 && part[0] == '.' && part[1] == '.')) {
    return "'.' or '..' path part";
  }
  if (part[length - 1] == '.' || part[length - 1] == ' ') {
    return "path part ends in a dot or blank (Windows would strip it)";
  }
  if (IsReservedDeviceName(part, length)) return "reserved device name";
  return nullptr;
}

// Byte-level problems, walking the text one (possibly double-byte) character
// at a time so that a 0x5C trail byte is never mistaken for a separator.
const char* CharacterProblem(const char* name) {
  for (const char* p = name; *p != '\0'; p = NextChar(p)) {
    unsigned char byte = static_cast<unsigned char>(*p);
    if (IsGbkLeadByte(byte)) {
      if (!IsGbkTrailByte(static_cast<unsigned char>(p[1]))) return "invalid double-byte character";
      continue;
    }
    if (byte < 0x20) return "control character";
    if (byte == 0xFF) return "invalid double-byte character";
    if (byte == ':') return "drive letter or stream name (':')";
    if (std::strchr("<>\"|?*", byte) != nullptr)
      return "character not allowed in Windows file names";
  }
  return nullptr;
}

}  // namespace

const char* EntryNameProblem(const char* field, size_t fieldSize) {
  const void* terminator = std::memchr(field, '\0', fieldSize);
  if (terminator == nullptr) return "name is not terminated within its field";
  if (field[0] == '\0') return nullptr;  // the unnamed package, "toplevel.tpk"
  if (IsSeparator(field[0])) return "absolute path";
  if (const char* problem = CharacterProblem(field)) return problem;

  const char* partStart = field;
  for (const char* p = field;; p = NextChar(p)) {
    bool atEnd = *p == '\0';
    bool singleByte = atEnd || NextChar(p) - p == 1;
    if (atEnd || (singleByte && IsSeparator(*p))) {
      if (const char* problem = PartProblem(partStart, static_cast<size_t>(p - partStart))) {
        return problem;
      }
      if (atEnd) break;
      partStart = p + 1;
    }
  }
  return nullptr;
}

bool IsSafeEntryName(const char* field, size_t fieldSize) {
  return EntryNameProblem(field, fieldSize) == nullptr;
}
