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

bool IsKnownCoding(uint8_t coding) { return coding <= static_cast<uint8_t>(EntryCoding::Lzma); }

DescriptorError CheckConsistency(const EntryDescriptor& d, uint64_t storedSize) {
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
    case EntryKind::BuildList:
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
  const uint8_t found = bytes[ENTRY_DESCRIPTOR_MARKER_SIZE];
  if (format != nullptr) *format = found;
  return found == ENTRY_DESCRIPTOR_FORMAT || found == ENTRY_DESCRIPTOR_FORMAT_2
             ? NameMarking::Descriptor
             : NameMarking::UnknownFormat;
}

bool WriteNameMarking(char (&field)[PATCH_NAME_FIELD_SIZE], uint8_t format) {
  const size_t start = NameEnd(field) + 1;
  if (start + ENTRY_DESCRIPTOR_MARKER_SIZE + 1 > PATCH_NAME_FIELD_SIZE) return false;
  unsigned char* bytes = reinterpret_cast<unsigned char*>(field);
  std::memset(bytes + start, 0, PATCH_NAME_FIELD_SIZE - start);
  std::memcpy(bytes + start, ENTRY_DESCRIPTOR_MARKER, ENTRY_DESCRIPTOR_MARKER_SIZE);
  bytes[start + ENTRY_DESCRIPTOR_MARKER_SIZE] = format;
  return true;
}

namespace {

// Where the fields lie in each format's fixed part.
struct FixedPart {
  uint32_t size;  // of the fixed part
  bool wide;      // sizes in 64 bits
  uint32_t decodedSize, decodedMd5, sourceSize, sourceMd5, sourcePathLength;
};

constexpr FixedPart kFormat1 = {ENTRY_DESCRIPTOR_FIXED_SIZE, false, 8, 12, 28, 32, 48};
constexpr FixedPart kFormat2 = {ENTRY_DESCRIPTOR_2_FIXED_SIZE, true, 8, 16, 32, 40, 56};

uint64_t ReadSize(const unsigned char* p, bool wide) { return wide ? ReadLe64(p) : ReadLe32(p); }

// Format 2's flags and builds, and the reserved bytes of either format.
DescriptorError ReadFormatFields(const unsigned char* bytes, uint8_t format,
                                 EntryDescriptor* parsed) {
  if (format == ENTRY_DESCRIPTOR_FORMAT) {
    return IsZero(bytes + 50, 10) ? DescriptorError::None : DescriptorError::ReservedNotZero;
  }
  parsed->flags = bytes[58];
  parsed->sourceBuilds = ReadLe32(bytes + 60);
  if ((parsed->flags & ~ENTRY_FLAG_STEP) != 0 || bytes[59] != 0 || !IsZero(bytes + 64, 8)) {
    return DescriptorError::ReservedNotZero;
  }
  return DescriptorError::None;
}

// What format 2 adds: a step is a delta toward a file at a path; builds are
// named only for what names a source; the build list is plain text.
DescriptorError CheckFormat2(const EntryDescriptor& d) {
  if (d.IsStep() && (d.kind != EntryKind::PathFile || d.coding != EntryCoding::Delta)) {
    return DescriptorError::Inconsistent;
  }
  if (d.sourceBuilds != 0 && IsZero(d.sourceMd5, ENTRY_DIGEST_SIZE)) {
    return DescriptorError::Inconsistent;
  }
  return DescriptorError::None;
}

}  // namespace

DescriptorError ParseEntryDescriptor(const unsigned char* bytes, size_t available,
                                     uint32_t entrySize, EntryDescriptor* descriptor,
                                     uint32_t* descriptorSize, uint8_t format) {
  if (format != ENTRY_DESCRIPTOR_FORMAT && format != ENTRY_DESCRIPTOR_FORMAT_2) {
    return DescriptorError::UnknownKind;
  }
  const FixedPart& part = format == ENTRY_DESCRIPTOR_FORMAT ? kFormat1 : kFormat2;
  if (available < part.size || entrySize < part.size) return DescriptorError::Truncated;
  const uint32_t size = ReadLe32(bytes);
  const uint8_t kind = bytes[4];
  const uint8_t coding = bytes[5];
  const uint16_t pathLength = ReadLe16(bytes + 6);
  const uint16_t sourcePathLength = ReadLe16(bytes + part.sourcePathLength);
  if (pathLength > ENTRY_PATH_MAX || sourcePathLength > ENTRY_PATH_MAX) {
    return DescriptorError::BadPath;
  }
  const uint32_t pathsEnd = part.size + pathLength + sourcePathLength;
  if (size < pathsEnd || size > ENTRY_DESCRIPTOR_MAX_SIZE || size > entrySize) {
    return DescriptorError::BadSize;
  }
  if (available < pathsEnd) return DescriptorError::Truncated;
  const uint8_t lastKind = static_cast<uint8_t>(
      format == ENTRY_DESCRIPTOR_FORMAT ? EntryKind::Removal : EntryKind::BuildList);
  if (kind < static_cast<uint8_t>(EntryKind::Package) || kind > lastKind) {
    return DescriptorError::UnknownKind;
  }
  if (!IsKnownCoding(coding)) return DescriptorError::UnknownCoding;

  EntryDescriptor parsed;
  if (DescriptorError error = ReadFormatFields(bytes, format, &parsed);
      error != DescriptorError::None) {
    return error;
  }
  parsed.kind = static_cast<EntryKind>(kind);
  parsed.coding = static_cast<EntryCoding>(coding);
  parsed.decodedSize = ReadSize(bytes + part.decodedSize, part.wide);
  std::memcpy(parsed.decodedMd5, bytes + part.decodedMd5, ENTRY_DIGEST_SIZE);
  parsed.sourceSize = ReadSize(bytes + part.sourceSize, part.wide);
  std::memcpy(parsed.sourceMd5, bytes + part.sourceMd5, ENTRY_DIGEST_SIZE);
  parsed.path.assign(reinterpret_cast<const char*>(bytes) + part.size, pathLength);
  parsed.sourcePath.assign(reinterpret_cast<const char*>(bytes) + part.size + pathLength,
                           sourcePathLength);
  DescriptorError error = CheckConsistency(parsed, entrySize - size);
  if (error == DescriptorError::None && format == ENTRY_DESCRIPTOR_FORMAT_2) {
    error = CheckFormat2(parsed);
  }
  if (error != DescriptorError::None) return error;
  *descriptor = parsed;
  *descriptorSize = size;
  return DescriptorError::None;
}

uint8_t DescriptorFormatOf(const EntryDescriptor& d) {
  const bool fitsFormat1 = d.decodedSize <= UINT32_MAX && d.sourceSize <= UINT32_MAX &&
                           d.flags == 0 && d.sourceBuilds == 0 && d.kind != EntryKind::BuildList;
  return fitsFormat1 ? ENTRY_DESCRIPTOR_FORMAT : ENTRY_DESCRIPTOR_FORMAT_2;
}

std::vector<unsigned char> EncodeEntryDescriptor(const EntryDescriptor& d) {
  const bool format1 = DescriptorFormatOf(d) == ENTRY_DESCRIPTOR_FORMAT;
  const FixedPart& part = format1 ? kFormat1 : kFormat2;
  std::vector<unsigned char> bytes(part.size + d.path.size() + d.sourcePath.size(), 0);
  unsigned char* p = bytes.data();
  WriteLe32(p, static_cast<uint32_t>(bytes.size()));
  p[4] = static_cast<unsigned char>(d.kind);
  p[5] = static_cast<unsigned char>(d.coding);
  WriteLe16(p + 6, static_cast<uint16_t>(d.path.size()));
  if (format1) {
    WriteLe32(p + part.decodedSize, static_cast<uint32_t>(d.decodedSize));
    WriteLe32(p + part.sourceSize, static_cast<uint32_t>(d.sourceSize));
  } else {
    WriteLe64(p + part.decodedSize, d.decodedSize);
    WriteLe64(p + part.sourceSize, d.sourceSize);
    p[58] = d.flags;
    WriteLe32(p + 60, d.sourceBuilds);
  }
  std::memcpy(p + part.decodedMd5, d.decodedMd5, ENTRY_DIGEST_SIZE);
  std::memcpy(p + part.sourceMd5, d.sourceMd5, ENTRY_DIGEST_SIZE);
  WriteLe16(p + part.sourcePathLength, static_cast<uint16_t>(d.sourcePath.size()));
  std::memcpy(p + part.size, d.path.data(), d.path.size());
  std::memcpy(p + part.size + d.path.size(), d.sourcePath.data(), d.sourcePath.size());
  return bytes;
}
