#include "update/format/payload.h"

#include <cstring>

PatchTrailer DecodeTrailer(const unsigned char (&bytes)[PATCH_TRAILER_SIZE]) {
  PatchTrailer trailer;
  trailer.magic = ReadLe32(bytes + offsetof(PatchTrailer, magic));
  trailer.firstEntryOffset = ReadLe32(bytes + offsetof(PatchTrailer, firstEntryOffset));
  trailer.entryCount = ReadLe32(bytes + offsetof(PatchTrailer, entryCount));
  trailer.totalFileSize = ReadLe32(bytes + offsetof(PatchTrailer, totalFileSize));
  std::memcpy(trailer.baseVersion, bytes + offsetof(PatchTrailer, baseVersion),
              PATCH_VERSION_FIELD_SIZE);
  std::memcpy(trailer.targetVersion, bytes + offsetof(PatchTrailer, targetVersion),
              PATCH_VERSION_FIELD_SIZE);
  return trailer;
}

PatchEntryHeader DecodeEntryHeader(const unsigned char (&bytes)[PATCH_ENTRY_HEADER_SIZE]) {
  PatchEntryHeader header;
  std::memcpy(header.name, bytes + offsetof(PatchEntryHeader, name), PATCH_NAME_FIELD_SIZE);
  header.size = ReadLe32(bytes + offsetof(PatchEntryHeader, size));
  return header;
}

void EncodeTrailer(const PatchTrailer& trailer, unsigned char (&bytes)[PATCH_TRAILER_SIZE]) {
  WriteLe32(bytes + offsetof(PatchTrailer, magic), trailer.magic);
  WriteLe32(bytes + offsetof(PatchTrailer, firstEntryOffset), trailer.firstEntryOffset);
  WriteLe32(bytes + offsetof(PatchTrailer, entryCount), trailer.entryCount);
  WriteLe32(bytes + offsetof(PatchTrailer, totalFileSize), trailer.totalFileSize);
  std::memcpy(bytes + offsetof(PatchTrailer, baseVersion), trailer.baseVersion,
              PATCH_VERSION_FIELD_SIZE);
  std::memcpy(bytes + offsetof(PatchTrailer, targetVersion), trailer.targetVersion,
              PATCH_VERSION_FIELD_SIZE);
}

void EncodeEntryHeader(const PatchEntryHeader& header,
                       unsigned char (&bytes)[PATCH_ENTRY_HEADER_SIZE]) {
  std::memcpy(bytes + offsetof(PatchEntryHeader, name), header.name, PATCH_NAME_FIELD_SIZE);
  WriteLe32(bytes + offsetof(PatchEntryHeader, size), header.size);
}

std::string FieldText(const char* field, size_t fieldSize) {
  const void* terminator = std::memchr(field, '\0', fieldSize);
  size_t length =
      terminator ? static_cast<size_t>(static_cast<const char*>(terminator) - field) : fieldSize;
  return std::string(field, length);
}

bool IsTrailerSound(const PatchTrailer& trailer, uint64_t fileSize) {
  return trailer.magic == PATCH_TRAILER_MAGIC && trailer.totalFileSize == fileSize;
}

std::string EntryExtractName(const PatchEntryHeader& header) {
  std::string name = FieldText(header.name, PATCH_NAME_FIELD_SIZE);
  return name.empty() ? std::string(PATCH_TOPLEVEL_NAME) : name;
}
