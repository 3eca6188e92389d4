#include "update/format/signed_image.h"

#include "update/base/little_endian.h"
#include "update/format/payload.h"

namespace {

constexpr uint32_t kLfanewOffset = 0x3C;
constexpr uint32_t kCoffHeaderSize = 20;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint32_t kSecurityEntry = 4;
constexpr uint32_t kDirectoryEntrySize = 8;
constexpr uint32_t kSectionHeaderSize = 40;
// The loader's own limit; more headers than this are a lie.
constexpr uint32_t kMaxSections = 96;
// A WIN_CERTIFICATE's length, revision and type.
constexpr uint32_t kCertificateHeaderSize = 8;

// Exactly `length` bytes at `offset`, all inside the source.
bool ReadExact(ByteSource& source, uint64_t offset, void* buffer, uint32_t length) {
  const uint64_t size = source.Size();
  if (offset > size || length > size - offset) return false;
  uint32_t got = 0;
  return source.ReadAt(offset, buffer, length, &got) && got == length;
}

bool ReadLe16At(ByteSource& source, uint64_t offset, uint16_t* value) {
  unsigned char bytes[2];
  if (!ReadExact(source, offset, bytes, sizeof bytes)) return false;
  *value = ReadLe16(bytes);
  return true;
}

bool ReadLe32At(ByteSource& source, uint64_t offset, uint32_t* value) {
  unsigned char bytes[4];
  if (!ReadExact(source, offset, bytes, sizeof bytes)) return false;
  *value = ReadLe32(bytes);
  return true;
}

uint64_t SectionDataEnd(ByteSource& source, uint64_t table, uint16_t count) {
  uint64_t end = 0;
  for (uint32_t i = 0; i < count; ++i) {
    unsigned char header[kSectionHeaderSize];
    if (!ReadExact(source, table + uint64_t(i) * kSectionHeaderSize, header, sizeof header)) {
      return 0;
    }
    const uint64_t rawSize = ReadLe32(header + 16);
    const uint64_t rawOffset = ReadLe32(header + 20);
    if (rawSize != 0 && rawOffset + rawSize > end) end = rawOffset + rawSize;
  }
  return end;
}

// The zero bytes directly before `end`, at most SIGNATURE_MAX_PADDING.
uint32_t ZerosBefore(ByteSource& source, uint64_t end) {
  unsigned char bytes[SIGNATURE_MAX_PADDING];
  const uint32_t span =
      end < SIGNATURE_MAX_PADDING ? static_cast<uint32_t>(end) : SIGNATURE_MAX_PADDING;
  if (!ReadExact(source, end - span, bytes, span)) return 0;
  uint32_t zeros = 0;
  while (zeros < span && bytes[span - 1 - zeros] == 0) ++zeros;
  return zeros;
}

}  // namespace

PeSignature ReadPeSignature(ByteSource& source) {
  PeSignature result;
  unsigned char mz[2];
  uint32_t lfanew = 0;
  if (!ReadExact(source, 0, mz, sizeof mz) || mz[0] != 'M' || mz[1] != 'Z' ||
      !ReadLe32At(source, kLfanewOffset, &lfanew)) {
    return result;
  }
  unsigned char signature[4];
  if (!ReadExact(source, lfanew, signature, sizeof signature) || signature[0] != 'P' ||
      signature[1] != 'E' || signature[2] != 0 || signature[3] != 0) {
    return result;
  }
  const uint64_t coff = uint64_t(lfanew) + 4;
  const uint64_t optional = coff + kCoffHeaderSize;
  uint16_t sectionCount = 0, optionalSize = 0, magic = 0;
  if (!ReadLe16At(source, coff + 2, &sectionCount) ||
      !ReadLe16At(source, coff + 16, &optionalSize) || !ReadLe16At(source, optional, &magic)) {
    return result;
  }
  // Where NumberOfRvaAndSizes and the directories sit depends on the format.
  uint32_t countField = 0;
  if (magic == kMagicPe32) {
    countField = 92;
  } else if (magic == kMagicPe32Plus) {
    countField = 108;
  } else {
    return result;
  }
  const uint32_t entryInHeader = countField + 4 + kSecurityEntry * kDirectoryEntrySize;
  uint32_t directoryCount = 0;
  if (optionalSize < entryInHeader + kDirectoryEntrySize ||
      !ReadLe32At(source, optional + countField, &directoryCount) ||
      directoryCount <= kSecurityEntry) {
    return result;
  }
  result.directoryEntryOffset = optional + entryInHeader;
  if (!ReadLe32At(source, result.directoryEntryOffset, &result.tableOffset) ||
      !ReadLe32At(source, result.directoryEntryOffset + 4, &result.tableSize)) {
    return result;
  }
  result.headersSound = true;
  const uint64_t sectionTable = optional + optionalSize;
  if (sectionCount <= kMaxSections) {
    result.sectionDataEnd = SectionDataEnd(source, sectionTable, sectionCount);
  }

  // The table must lie after the headers and end exactly at the end of the
  // file; its first certificate's length must fit in it.
  const uint64_t tableEnd = uint64_t(result.tableOffset) + result.tableSize;
  const uint64_t headersEnd = sectionTable + uint64_t(sectionCount) * kSectionHeaderSize;
  uint32_t firstLength = 0;
  if (result.tableSize < kCertificateHeaderSize || result.tableOffset < headersEnd ||
      tableEnd != source.Size() || !ReadLe32At(source, result.tableOffset, &firstLength) ||
      firstLength < kCertificateHeaderSize || firstLength > result.tableSize) {
    return result;
  }
  result.isSigned = true;
  return result;
}

uint64_t PayloadEnd(ByteSource& source, const PeSignature& signature) {
  if (!signature.isSigned) return source.Size();
  const uint64_t table = signature.tableOffset;
  const uint32_t zeros = ZerosBefore(source, table);
  for (uint32_t padding = 0; padding <= zeros; ++padding) {
    const uint64_t end = table - padding;
    if (end < PATCH_TRAILER_SIZE) break;
    BoundedPayloadSource candidate(source, end);
    PatchTrailer trailer;
    uint32_t got = 0;
    if (ReadTrailer(candidate, &trailer, &got) && IsTrailerSound(trailer, end)) return end;
  }
  return source.Size();
}

uint64_t UnsignedImageEnd(ByteSource& source, const PeSignature& signature) {
  if (!signature.isSigned) return source.Size();
  const uint64_t table = signature.tableOffset;
  uint64_t end = table - ZerosBefore(source, table);
  // Unknown section ends keep every byte: a cut section would break the image.
  const uint64_t floor = signature.sectionDataEnd != 0 ? signature.sectionDataEnd : table;
  if (end < floor) end = floor < table ? floor : table;
  return end;
}

BoundedPayloadSource::BoundedPayloadSource(ByteSource& inner, uint64_t size)
    : inner_(inner), size_(size < inner.Size() ? size : inner.Size()) {}

bool BoundedPayloadSource::ReadAt(uint64_t offset, void* buffer, uint32_t length,
                                  uint32_t* bytesRead) {
  *bytesRead = 0;
  if (offset >= size_) return true;
  const uint64_t available = size_ - offset;
  const uint32_t count = available < length ? static_cast<uint32_t>(available) : length;
  return inner_.ReadAt(offset, buffer, count, bytesRead);
}
