#include "update/format/entry_descriptor.h"

#include <cstring>

#include "update/base/little_endian.h"
#include "update/format/entry_name.h"

namespace {

size_t NameEnd(const char* field) {
  const void* nul = std::memchr(field, '\0', PATCH_NAME_FIELD_SIZE);
  if (nul == nullptr) return PATCH_NAME_FIELD_SIZE;
  return static_cast<size_t>(static_cast<const char*>(nul) - field);
}

bool IsZero(const unsigned char* bytes, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

// The path may be checked as an entry name is: the same rules keep it inside
// the game directory and away from devices.
bool IsSafePath(const std::string& path) {
  if (path.empty() || path.size() > ENTRY_PATH_MAX) return false;
  if (path.find('\0') != std::string::npos) return false;
  char field[ENTRY_PATH_MAX + 1] = {};
  std::memcpy(field, path.data(), path.size());
  return IsSafeEntryName(field, sizeof field);
}

bool IsKnownKind(uint8_t kind) {
  return kind >= static_cast<uint8_t>(EntryKind::Package) &&
         kind <= static_cast<uint8_t>(EntryKind::Removal);
}

bool IsKnownCoding(uint8_t coding) { return coding <= static_cast<uint8_t>(EntryCoding::ZstdX86); }

DescriptorError CheckConsistency(const EntryDescriptor& d, uint32_t storedSize) {
  const bool hasPath = d.kind == EntryKind::PathFile || d.kind == EntryKind::Removal;
  if (hasPath != !d.path.empty()) return DescriptorError::BadPath;
  if (hasPath && !IsSafePath(d.path)) return DescriptorError::BadPath;
  if (!d.sourcePath.empty() && (d.kind != EntryKind::PathFile || d.coding != EntryCoding::Delta ||
                                !IsSafePath(d.sourcePath))) {
    return DescriptorError::BadPath;
  }
  const bool sourceNamed = d.sourceSize != 0 || !IsZero(d.sourceMd5, ENTRY_DIGEST_SIZE);
  switch (d.kind) {
    case EntryKind::Removal:
      // Nothing is stored and nothing decoded; the old file is identified by its MD5.
      if (d.coding != EntryCoding::Stored || storedSize != 0 || d.decodedSize != 0 ||
          !IsZero(d.decodedMd5, ENTRY_DIGEST_SIZE) || IsZero(d.sourceMd5, ENTRY_DIGEST_SIZE)) {
        return DescriptorError::Inconsistent;
      }
      return DescriptorError::None;
    case EntryKind::Package:
    case EntryKind::PlainFile:
      // A delta needs an installed file at a known path.
      if (d.coding == EntryCoding::Delta || sourceNamed) return DescriptorError::Inconsistent;
      break;
    case EntryKind::PathFile:
      // A delta names the installed file it applies to (the MD5 of even an
      // empty file is not zero); nothing else names a source.
      if ((d.coding == EntryCoding::Delta) != !IsZero(d.sourceMd5, ENTRY_DIGEST_SIZE) ||
          (d.coding != EntryCoding::Delta && sourceNamed)) {
        return DescriptorError::Inconsistent;
      }
      break;
  }
  if (d.coding == EntryCoding::Stored && storedSize != d.decodedSize) {
    return DescriptorError::Inconsistent;
  }
  return DescriptorError::None;
}

}  // namespace

NameMarking ReadNameMarking(const char* field, uint8_t* format) {
  const size_t start = NameEnd(field) + 1;
  if (start + ENTRY_DESCRIPTOR_MARKER_SIZE + 1 > PATCH_NAME_FIELD_SIZE) return NameMarking::None;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(field) + start;
  if (std::memcmp(bytes, ENTRY_DESCRIPTOR_MARKER, ENTRY_DESCRIPTOR_MARKER_SIZE) != 0) {
    return NameMarking::None;
  }
  if (format != nullptr) *format = bytes[ENTRY_DESCRIPTOR_MARKER_SIZE];
  return bytes[ENTRY_DESCRIPTOR_MARKER_SIZE] == ENTRY_DESCRIPTOR_FORMAT
             ? NameMarking::Descriptor
             : NameMarking::UnknownFormat;
}

bool WriteNameMarking(char (&field)[PATCH_NAME_FIELD_SIZE]) {
  const size_t start = NameEnd(field) + 1;
  if (start + ENTRY_DESCRIPTOR_MARKER_SIZE + 1 > PATCH_NAME_FIELD_SIZE) return false;
  unsigned char* bytes = reinterpret_cast<unsigned char*>(field);
  std::memset(bytes + start, 0, PATCH_NAME_FIELD_SIZE - start);
  std::memcpy(bytes + start, ENTRY_DESCRIPTOR_MARKER, ENTRY_DESCRIPTOR_MARKER_SIZE);
  bytes[start + ENTRY_DESCRIPTOR_MARKER_SIZE] = ENTRY_DESCRIPTOR_FORMAT;
  return true;
}

DescriptorError ParseEntryDescriptor(const unsigned char* bytes, size_t available,
                                     uint32_t entrySize, EntryDescriptor* descriptor,
                                     uint32_t* descriptorSize) {
  if (available < ENTRY_DESCRIPTOR_FIXED_SIZE || entrySize < ENTRY_DESCRIPTOR_FIXED_SIZE) {
    return DescriptorError::Truncated;
  }
  const uint32_t size = ReadLe32(bytes);
  const uint8_t kind = bytes[4];
  const uint8_t coding = bytes[5];
  const uint16_t pathLength = ReadLe16(bytes + 6);
  const uint16_t sourcePathLength = ReadLe16(bytes + 48);
  if (pathLength > ENTRY_PATH_MAX || sourcePathLength > ENTRY_PATH_MAX) {
    return DescriptorError::BadPath;
  }
  const uint32_t pathsEnd = ENTRY_DESCRIPTOR_FIXED_SIZE + pathLength + sourcePathLength;
  if (size < pathsEnd || size > ENTRY_DESCRIPTOR_MAX_SIZE || size > entrySize) {
    return DescriptorError::BadSize;
  }
  if (available < pathsEnd) return DescriptorError::Truncated;
  if (!IsKnownKind(kind)) return DescriptorError::UnknownKind;
  if (!IsKnownCoding(coding)) return DescriptorError::UnknownCoding;
  if (!IsZero(bytes + 50, 10)) return DescriptorError::ReservedNotZero;

  EntryDescriptor parsed;
  parsed.kind = static_cast<EntryKind>(kind);
  parsed.coding = static_cast<EntryCoding>(coding);
  parsed.decodedSize = ReadLe32(bytes + 8);
  std::memcpy(parsed.decodedMd5, bytes + 12, ENTRY_DIGEST_SIZE);
  parsed.sourceSize = ReadLe32(bytes + 28);
  std::memcpy(parsed.sourceMd5, bytes + 32, ENTRY_DIGEST_SIZE);
  parsed.path.assign(reinterpret_cast<const char*>(bytes) + ENTRY_DESCRIPTOR_FIXED_SIZE,
                     pathLength);
  parsed.sourcePath.assign(
      reinterpret_cast<const char*>(bytes) + ENTRY_DESCRIPTOR_FIXED_SIZE + pathLength,
      sourcePathLength);
  if (DescriptorError error = CheckConsistency(parsed, entrySize - size);
      error != DescriptorError::None) {
    return error;
  }
  *descriptor = parsed;
  *descriptorSize = size;
  return DescriptorError::None;
}

std::vector<unsigned char> EncodeEntryDescriptor(const EntryDescriptor& d) {
  std::vector<unsigned char> bytes(
      ENTRY_DESCRIPTOR_FIXED_SIZE + d.path.size() + d.sourcePath.size(), 0);
  WriteLe32(bytes.data(), static_cast<uint32_t>(bytes.size()));
  bytes[4] = static_cast<unsigned char>(d.kind);
  bytes[5] = static_cast<unsigned char>(d.coding);
  WriteLe16(bytes.data() + 6, static_cast<uint16_t>(d.path.size()));
  WriteLe32(bytes.data() + 8, d.decodedSize);
  std::memcpy(bytes.data() + 12, d.decodedMd5, ENTRY_DIGEST_SIZE);
  WriteLe32(bytes.data() + 28, d.sourceSize);
  std::memcpy(bytes.data() + 32, d.sourceMd5, ENTRY_DIGEST_SIZE);
  WriteLe16(bytes.data() + 48, static_cast<uint16_t>(d.sourcePath.size()));
  std::memcpy(bytes.data() + ENTRY_DESCRIPTOR_FIXED_SIZE, d.path.data(), d.path.size());
  std::memcpy(bytes.data() + ENTRY_DESCRIPTOR_FIXED_SIZE + d.path.size(), d.sourcePath.data(),
              d.sourcePath.size());
  return bytes;
}
