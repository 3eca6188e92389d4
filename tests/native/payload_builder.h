// Builds updater files in memory for the payload tests.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "payload.h"
#include "payload_digest.h"
#include "payload_table.h"

struct TestEntry {
  std::string name;
  std::string data;
};

inline void PutText(char* field, size_t fieldSize, const std::string& text) {
  std::memset(field, 0, fieldSize);
  std::memcpy(field, text.data(), std::min(text.size(), fieldSize));
}

inline void AppendEntry(std::vector<unsigned char>& file, const std::string& name, uint32_t size,
                        const std::string& data) {
  PatchEntryHeader header;
  PutText(header.name, sizeof header.name, name);
  header.size = size;
  unsigned char bytes[PATCH_ENTRY_HEADER_SIZE];
  EncodeEntryHeader(header, bytes);
  file.insert(file.end(), bytes, bytes + sizeof bytes);
  file.insert(file.end(), data.begin(), data.end());
}

inline PatchTrailer MakeTrailer(uint32_t firstEntryOffset, uint32_t entryCount,
                                uint32_t totalFileSize, const std::string& base = "1.4.1.33960",
                                const std::string& target = "1.4.1.34242") {
  PatchTrailer trailer;
  trailer.magic = PATCH_TRAILER_MAGIC;
  trailer.firstEntryOffset = firstEntryOffset;
  trailer.entryCount = entryCount;
  trailer.totalFileSize = totalFileSize;
  PutText(trailer.baseVersion, sizeof trailer.baseVersion, base);
  PutText(trailer.targetVersion, sizeof trailer.targetVersion, target);
  return trailer;
}

inline void AppendTrailer(std::vector<unsigned char>& file, const PatchTrailer& trailer) {
  unsigned char bytes[PATCH_TRAILER_SIZE];
  EncodeTrailer(trailer, bytes);
  file.insert(file.end(), bytes, bytes + sizeof bytes);
}

// A program of `programSize` bytes, the entries, and a sound trailer.
inline std::vector<unsigned char> BuildUpdater(size_t programSize,
                                               const std::vector<TestEntry>& entries) {
  std::vector<unsigned char> file(programSize, 'P');
  for (const TestEntry& entry : entries) {
    AppendEntry(file, entry.name, static_cast<uint32_t>(entry.data.size()), entry.data);
  }
  uint32_t total = static_cast<uint32_t>(file.size() + PATCH_TRAILER_SIZE);
  AppendTrailer(file, MakeTrailer(static_cast<uint32_t>(programSize),
                                  static_cast<uint32_t>(entries.size()), total));
  return file;
}

// Puts the digest record of the file's entry region into its trailer, as
// `mkpatch build` does; false when the target version leaves no room.
inline bool AddDigestRecord(std::vector<unsigned char>& file) {
  unsigned char bytes[PATCH_TRAILER_SIZE];
  std::memcpy(bytes, file.data() + file.size() - PATCH_TRAILER_SIZE, PATCH_TRAILER_SIZE);
  PatchTrailer trailer = DecodeTrailer(bytes);
  MemoryPayloadSource source(file.data(), file.size());
  unsigned char digest[PAYLOAD_DIGEST_SIZE];
  uint64_t digested = 0;
  if (!DigestRegion(source, trailer.firstEntryOffset, DigestRegionEnd(trailer), digest, &digested) ||
      !WriteDigestRecord(&trailer, digest)) {
    return false;
  }
  EncodeTrailer(trailer, bytes);
  std::memcpy(file.data() + file.size() - PATCH_TRAILER_SIZE, bytes, PATCH_TRAILER_SIZE);
  return true;
}
