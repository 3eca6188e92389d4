#include "update/format/payload_table.h"

#include <cstring>

#include "update/format/entry_name.h"

bool ReadTrailer(ByteSource& source, PatchTrailer* trailer, uint32_t* bytesRead) {
  *bytesRead = 0;
  uint64_t size = source.Size();
  if (size < PATCH_TRAILER_SIZE) return false;
  unsigned char bytes[PATCH_TRAILER_SIZE];
  if (!source.ReadAt(size - PATCH_TRAILER_SIZE, bytes, PATCH_TRAILER_SIZE, bytesRead) ||
      *bytesRead != PATCH_TRAILER_SIZE) {
    return false;
  }
  *trailer = DecodeTrailer(bytes);
  return true;
}

PayloadTable ReadPayloadTable(ByteSource& source, const PatchTrailer& trailer) {
  PayloadTable table;
  uint64_t fileSize = source.Size();
  if (fileSize < PATCH_TRAILER_SIZE) {
    table.error = PayloadError::FileTooShort;
    return table;
  }
  const uint64_t trailerOffset = fileSize - PATCH_TRAILER_SIZE;
  const uint64_t first = trailer.firstEntryOffset;
  table.entriesEnd = first;

  // The count is untrusted. Entries are kept as they are read, not reserved
  // for: even a count whose headers alone fit may stand for more memory than
  // a 32-bit process has near a 2 GiB file, while the first header is bad.
  uint64_t room = first <= trailerOffset ? trailerOffset - first : 0;
  if (trailer.entryCount > 0 &&
      (first > trailerOffset ||
       static_cast<uint64_t>(trailer.entryCount) * PATCH_ENTRY_HEADER_SIZE > room)) {
    table.error = PayloadError::EntryCountImpossible;
    return table;
  }

  uint64_t position = first;
  for (uint32_t index = 0; index < trailer.entryCount; ++index) {
    table.failedEntry = index;
    unsigned char bytes[PATCH_ENTRY_HEADER_SIZE];
    uint32_t got = 0;
    if (!source.ReadAt(position, bytes, PATCH_ENTRY_HEADER_SIZE, &got) ||
        got != PATCH_ENTRY_HEADER_SIZE) {
      table.error = PayloadError::HeaderUnreadable;
      table.bytesRead = got;
      return table;
    }
    if (position + PATCH_ENTRY_HEADER_SIZE > trailerOffset) {
      table.error = PayloadError::OverlapsTrailer;
      return table;
    }
    PatchEntryHeader header = DecodeEntryHeader(bytes);
    if (std::memchr(header.name, '\0', PATCH_NAME_FIELD_SIZE) == nullptr) {
      table.error = PayloadError::NameNotTerminated;
      return table;
    }
    if (!IsSafeEntryName(header.name, PATCH_NAME_FIELD_SIZE)) {
      table.error = PayloadError::UnsafeName;
      return table;
    }
    uint64_t dataOffset = position + PATCH_ENTRY_HEADER_SIZE;
    uint64_t dataEnd = dataOffset + header.size;
    if (dataEnd > fileSize) {
      table.error = PayloadError::DataPastEnd;
      return table;
    }
    if (dataEnd > trailerOffset) {
      table.error = PayloadError::OverlapsTrailer;
      return table;
    }
    table.entries.push_back(
        PayloadEntry{EntryExtractName(header), header.size, position, dataOffset});
    position = dataEnd;
    table.entriesEnd = dataEnd;
  }
  table.failedEntry = 0;
  return table;
}
