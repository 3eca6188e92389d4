#include "mkpatch/inspect/entry_details.h"

#include <cstring>
#include <vector>

#include "mkpatch/inspect/payload_check.h"
#include "update/format/game_layout.h"

std::string ReadEntryDetail(ByteSource& source, const PayloadEntry& entry, EntryDetail* detail) {
  *detail = EntryDetail();
  unsigned char header[PATCH_ENTRY_HEADER_SIZE];
  uint32_t got = 0;
  if (!source.ReadAt(entry.headerOffset, header, sizeof header, &got) || got != sizeof header) {
    return "header could not be read";
  }
  const char* field = reinterpret_cast<const char*>(header);
  detail->marking = ReadNameMarking(field);
  if (detail->marking == NameMarking::None) return "";
  // The marking follows the name's NUL; its format byte follows the marker.
  const size_t nameEnd = static_cast<size_t>(
      static_cast<const char*>(std::memchr(field, '\0', PATCH_NAME_FIELD_SIZE)) - field);
  detail->format = header[nameEnd + 1 + ENTRY_DESCRIPTOR_MARKER_SIZE];
  if (detail->marking == NameMarking::UnknownFormat) {
    return "marked for descriptor format " + std::to_string(detail->format) +
           ", which this mkpatch does not know";
  }
  const uint32_t want =
      entry.size < ENTRY_DESCRIPTOR_MAX_SIZE ? entry.size : ENTRY_DESCRIPTOR_MAX_SIZE;
  std::vector<unsigned char> bytes(want);
  if (want > 0 && (!source.ReadAt(entry.dataOffset, bytes.data(), want, &got) || got != want)) {
    return "descriptor could not be read";
  }
  const DescriptorError error = ParseEntryDescriptor(bytes.data(), bytes.size(), entry.size,
                                                     &detail->descriptor, &detail->descriptorSize);
  if (error != DescriptorError::None)
    return std::string("descriptor: ") + DescriptorErrorText(error);
  return "";
}

EntryKind InstallKindOf(const PayloadEntry& entry, const EntryDetail& detail) {
  if (detail.HasDescriptor()) return detail.descriptor.kind;
  return IsPackageName(entry.name) ? EntryKind::Package : EntryKind::PlainFile;
}

uint64_t StoredBegin(const PayloadEntry& entry, const EntryDetail& detail) {
  return entry.dataOffset + detail.descriptorSize;
}

uint64_t StoredSize(const PayloadEntry& entry, const EntryDetail& detail) {
  return entry.size - detail.descriptorSize;
}

uint64_t DecodedSize(const PayloadEntry& entry, const EntryDetail& detail) {
  return detail.HasDescriptor() ? detail.descriptor.decodedSize : entry.size;
}

EntryCoding CodingOf(const EntryDetail& detail) {
  return detail.HasDescriptor() ? detail.descriptor.coding : EntryCoding::Stored;
}
