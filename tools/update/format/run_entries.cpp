#include "update/format/run_entries.h"

namespace {

RunEntryError ReadRunEntry(ByteSource& source, const PayloadEntry& entry, RunEntry* run,
                           DescriptorError* descriptorError) {
  char field[PATCH_NAME_FIELD_SIZE];
  uint32_t got = 0;
  if (!source.ReadAt(entry.headerOffset, field, PATCH_NAME_FIELD_SIZE, &got) ||
      got != PATCH_NAME_FIELD_SIZE) {
    return RunEntryError::Unreadable;
  }
  switch (ReadNameMarking(field)) {
    case NameMarking::None:
      return RunEntryError::None;
    case NameMarking::UnknownFormat:
      return RunEntryError::UnknownFormat;
    case NameMarking::Descriptor:
      break;
  }
  // The descriptor's whole bound, or the entry's data when that is shorter.
  unsigned char bytes[ENTRY_DESCRIPTOR_MAX_SIZE];
  const uint32_t want = entry.size < sizeof bytes ? entry.size : sizeof bytes;
  if (!source.ReadAt(entry.dataOffset, bytes, want, &got) || got != want) {
    return RunEntryError::Unreadable;
  }
  uint32_t descriptorSize = 0;
  *descriptorError =
      ParseEntryDescriptor(bytes, got, entry.size, &run->descriptor, &descriptorSize);
  if (*descriptorError != DescriptorError::None) return RunEntryError::BadDescriptor;
  run->described = true;
  run->storedBegin = entry.dataOffset + descriptorSize;
  run->storedSize = entry.size - descriptorSize;
  return RunEntryError::None;
}

}  // namespace

RunEntries ReadRunEntries(ByteSource& source, const std::vector<PayloadEntry>& table) {
  RunEntries result;
  for (uint32_t index = 0; index < table.size(); ++index) {
    RunEntry run;
    result.error = ReadRunEntry(source, table[index], &run, &result.descriptorError);
    if (result.error != RunEntryError::None) {
      result.failedEntry = index;
      result.entries.clear();
      return result;
    }
    result.entries.push_back(run);
  }
  return result;
}
