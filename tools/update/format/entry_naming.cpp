#include "update/format/entry_naming.h"

#include <cstring>

#include "update/base/gbk_text.h"
#include "update/format/entry_descriptor.h"
#include "update/format/entry_name.h"

std::string DescriptorEntryName(const std::string& gbkPath) {
  const char* separator = FindLastSeparator(gbkPath.c_str(), "\\");
  const std::string last = separator ? std::string(separator + 1) : gbkPath;
  if (last.size() <= ENTRY_DESCRIPTOR_MAX_NAME) return last;
  std::string name;
  for (const char* p = last.c_str(); *p != '\0';) {
    const char* next = NextChar(p);
    if (name.size() + static_cast<size_t>(next - p) > ENTRY_DESCRIPTOR_MAX_NAME) break;
    name.append(p, next);
    p = next;
  }
  // Windows would strip a trailing dot or blank, and the updater refuses such names.
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  if (name.empty() || EntryNameProblem(name.c_str(), name.size() + 1) != nullptr) return "file";
  return name;
}

bool MarkedNameField(const std::string& gbkName, char (&field)[PATCH_NAME_FIELD_SIZE],
                     uint8_t format) {
  if (gbkName.size() > ENTRY_DESCRIPTOR_MAX_NAME) return false;
  PlainNameField(gbkName, field);
  return WriteNameMarking(field, format);
}

void PlainNameField(const std::string& gbkName, char (&field)[PATCH_NAME_FIELD_SIZE]) {
  std::memset(field, 0, sizeof field);
  const size_t length = gbkName.size() < sizeof field ? gbkName.size() : sizeof field - 1;
  std::memcpy(field, gbkName.data(), length);
}
