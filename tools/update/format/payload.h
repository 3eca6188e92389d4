// Layout of the payload appended to the updater's own file:
//
//   [program][entry 1: header + data][entry 2] ... [trailer: last 136 bytes]
//
// All integers are unsigned 32-bit little-endian; positions are absolute.
// The structs mirror the bytes on disk; decode with the functions below so the
// result does not depend on the host's byte order or struct padding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "update/base/little_endian.h"

constexpr uint32_t PATCH_TRAILER_MAGIC = 0x1E534359u;
constexpr size_t PATCH_TRAILER_SIZE = 136;
constexpr size_t PATCH_ENTRY_HEADER_SIZE = 84;
constexpr size_t PATCH_VERSION_FIELD_SIZE = 60;
constexpr size_t PATCH_NAME_FIELD_SIZE = 80;
// The whole updater file stays below 2 GiB: the updater handles positions as
// signed 32-bit file positions.
constexpr uint64_t PATCH_FILE_SIZE_LIMIT = uint64_t(1) << 31;
// Name an entry with an empty name is extracted (and installed) under.
constexpr const char* PATCH_TOPLEVEL_NAME = "toplevel.tpk";

struct PatchTrailer {
  uint32_t magic;
  uint32_t firstEntryOffset;
  uint32_t entryCount;
  uint32_t totalFileSize;
  char baseVersion[PATCH_VERSION_FIELD_SIZE];
  char targetVersion[PATCH_VERSION_FIELD_SIZE];
};

struct PatchEntryHeader {
  char name[PATCH_NAME_FIELD_SIZE];
  uint32_t size;
};

static_assert(sizeof(PatchTrailer) == PATCH_TRAILER_SIZE, "trailer is 136 bytes");
static_assert(offsetof(PatchTrailer, magic) == 0, "trailer layout");
static_assert(offsetof(PatchTrailer, firstEntryOffset) == 4, "trailer layout");
static_assert(offsetof(PatchTrailer, entryCount) == 8, "trailer layout");
static_assert(offsetof(PatchTrailer, totalFileSize) == 12, "trailer layout");
static_assert(offsetof(PatchTrailer, baseVersion) == 16, "trailer layout");
static_assert(offsetof(PatchTrailer, targetVersion) == 76, "trailer layout");
static_assert(sizeof(PatchEntryHeader) == PATCH_ENTRY_HEADER_SIZE, "entry header is 84 bytes");
static_assert(offsetof(PatchEntryHeader, name) == 0, "entry header layout");
static_assert(offsetof(PatchEntryHeader, size) == 80, "entry header layout");

// Decoding never fails: every byte pattern is some trailer or header.
PatchTrailer DecodeTrailer(const unsigned char (&bytes)[PATCH_TRAILER_SIZE]);
PatchEntryHeader DecodeEntryHeader(const unsigned char (&bytes)[PATCH_ENTRY_HEADER_SIZE]);
void EncodeTrailer(const PatchTrailer& trailer, unsigned char (&bytes)[PATCH_TRAILER_SIZE]);
void EncodeEntryHeader(const PatchEntryHeader& header,
                       unsigned char (&bytes)[PATCH_ENTRY_HEADER_SIZE]);

// Text of a fixed field up to its first NUL, or the whole field without one.
std::string FieldText(const char* field, size_t fieldSize);

// The trailer test the updater makes: right magic and total size.
bool IsTrailerSound(const PatchTrailer& trailer, uint64_t fileSize);

// The name an entry is extracted under: its own, or "toplevel.tpk" when empty.
std::string EntryExtractName(const PatchEntryHeader& header);
