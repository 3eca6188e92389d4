#include "update/format/entry_detail.h"

#include <cstring>

#include "update/base/gbk_text.h"
#include "update/format/game_layout.h"

EntryDetailError ReadEntryDetail(ByteSource& source, const PayloadEntry& entry, EntryDetail* detail,
                                 DescriptorError* descriptorError) {
  *detail = EntryDetail();
  *descriptorError = DescriptorError::None;
  char field[PATCH_NAME_FIELD_SIZE];
  uint32_t got = 0;
  if (!source.ReadAt(entry.headerOffset, field, PATCH_NAME_FIELD_SIZE, &got) ||
      got != PATCH_NAME_FIELD_SIZE) {
    return EntryDetailError::Unreadable;
  }
  detail->marking = ReadNameMarking(field, &detail->format);
  switch (detail->marking) {
    case NameMarking::None:
      return EntryDetailError::None;
    case NameMarking::UnknownFormat:
      return EntryDetailError::UnknownFormat;
    case NameMarking::Descriptor:
      break;
  }
  // The descriptor's whole bound, or the entry's data when that is shorter.
  unsigned char bytes[ENTRY_DESCRIPTOR_MAX_SIZE];
  const uint32_t want = entry.size < sizeof bytes ? entry.size : sizeof bytes;
  if (!source.ReadAt(entry.dataOffset, bytes, want, &got) || got != want) {
    return EntryDetailError::Unreadable;
  }
  *descriptorError = ParseEntryDescriptor(bytes, got, entry.size, &detail->descriptor,
                                          &detail->descriptorSize, detail->format);
  return *descriptorError == DescriptorError::None ? EntryDetailError::None
                                                   : EntryDetailError::BadDescriptor;
}

EntryDetails ReadEntryDetails(ByteSource& source, const std::vector<PayloadEntry>& table) {
  EntryDetails result;
  result.details = std::vector<EntryDetail>(table.size());
  for (uint32_t index = 0; index < table.size(); ++index) {
    result.error =
        ReadEntryDetail(source, table[index], &result.details[index], &result.descriptorError);
    if (result.error != EntryDetailError::None) {
      result.failedEntry = index;
      result.details.clear();
      return result;
    }
  }
  return result;
}

EntryKind InstallKindOf(const PayloadEntry& entry, const EntryDetail& detail) {
  if (detail.HasDescriptor()) return detail.descriptor.kind;
  return IsPackageName(entry.name) ? EntryKind::Package : EntryKind::PlainFile;
}

std::string DestinationOf(const PayloadEntry& entry, const EntryDetail& detail) {
  switch (InstallKindOf(entry, detail)) {
    case EntryKind::Package:
    case EntryKind::BuildList:
      return "";
    case EntryKind::PlainFile:
      return InstallFileName(entry.name);
    case EntryKind::PathFile:
    case EntryKind::Removal:
      return detail.descriptor.path;
  }
  return "";
}

std::string InstallFileName(const std::string& gbkName) {
  const char* separator = FindLastSeparator(gbkName.c_str(), "\\/");
  return separator != nullptr ? std::string(separator + 1) : gbkName;
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

DecodeRequest DecodeRequestFor(ByteSource& payload, const PayloadEntry& entry,
                               const EntryDetail& detail, ByteSource* deltaSource) {
  DecodeRequest request;
  request.coding = CodingOf(detail);
  request.stored = &payload;
  request.storedBegin = StoredBegin(entry, detail);
  request.storedSize = StoredSize(entry, detail);
  request.source = deltaSource;
  request.decodedSize = DecodedSize(entry, detail);
  return request;
}
