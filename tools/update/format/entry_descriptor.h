// Entries of the kinds that patches made from two game builds carry: a file
// stored compressed, a file installed at its path inside the game directory,
// a delta against the installed file, and the removal of a file the new build
// dropped. Such an entry opts in after the NUL of its name, where readers of
// plain entries never look (mkpatch clears those bytes), and its data begins
// with a descriptor; the stored bytes follow it.
//
// Name field (80 bytes):  name, NUL, ENTRY_DESCRIPTOR_MARKER (8), format (1)
//   so the name is at most 70 bytes. For a file at a path it is the path's
//   last part; the descriptor holds the whole path.
//
// Descriptor (little-endian, at the start of the entry's data):
//    0  4  descriptor size D, 60 + P + Q <= D <= 4096; the stored bytes
//          begin at D (later formats may append fields before them)
//    4  1  kind (EntryKind)
//    5  1  coding of the stored bytes (EntryCoding)
//    6  2  path length P, at most 259
//    8  4  size of the decoded file (0 for a removal)
//   12 16  MD5 of the decoded file (zero for a removal)
//   28  4  source size: the installed file a delta applies to, or the file a
//          removal removes; else 0
//   32 16  MD5 of that source; else zero
//   48  2  source path length Q: a delta whose source is the installed file at
//          another path (a file the new build renamed) names it here; 0 when
//          the source is the file at the entry's own path
//   50 10  zero (flags and room; a reader of format 1 refuses anything else)
//   60  P  the path relative to the game directory, GBK, '\' between parts
//          (PathFile and Removal only)
//  60+P Q  the source path, as the path (a PathFile delta only)
//
// Format 2 holds sizes of files beyond 4 GiB and the entries of patches
// made from several old builds, where one file may be reached from each old
// build's bytes, a delta of it through the bytes of a later build (a step):
//    0  4  descriptor size D, 72 + P + Q <= D <= 4096
//    4  1  kind (EntryKind, BuildList included)
//    5  1  coding
//    6  2  path length P
//    8  8  size of the decoded file
//   16 16  MD5 of the decoded file
//   32  8  source size
//   40 16  MD5 of the source
//   56  2  source path length Q
//   58  1  flags: ENTRY_FLAG_STEP; the other bits zero
//   59  1  zero
//   60  4  the old builds whose file holds the source (bit 0 the base build,
//          bit n the n-th build after it); 0 when nothing names a source
//   64  8  zero
//   72  P  the path, as in format 1
//  72+P Q  the source path, as in format 1
// mkpatch writes format 1 wherever it serves, so a patch that needs none of
// this reads as it always did.
//
// Everything here is untrusted input from the updater's own file: every
// field is checked before the run acts on it. No platform headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "update/codec/entry_codec.h"
#include "update/format/payload.h"

constexpr size_t ENTRY_DESCRIPTOR_MARKER_SIZE = 8;
constexpr unsigned char ENTRY_DESCRIPTOR_MARKER[ENTRY_DESCRIPTOR_MARKER_SIZE] = {
    0xD7, 'E', 'N', 'T', 'K', 'N', 'D', 0x8F};
constexpr uint8_t ENTRY_DESCRIPTOR_FORMAT = 1;
constexpr uint8_t ENTRY_DESCRIPTOR_FORMAT_2 = 2;
// The longest name that leaves room for its NUL, the marker and the format.
constexpr size_t ENTRY_DESCRIPTOR_MAX_NAME =
    PATCH_NAME_FIELD_SIZE - 1 - ENTRY_DESCRIPTOR_MARKER_SIZE - 1;
constexpr uint32_t ENTRY_DESCRIPTOR_FIXED_SIZE = 60;
constexpr uint32_t ENTRY_DESCRIPTOR_2_FIXED_SIZE = 72;
constexpr uint32_t ENTRY_DESCRIPTOR_MAX_SIZE = 4096;
// A path and its NUL fill the updater's 260-byte path buffers at most.
constexpr size_t ENTRY_PATH_MAX = 259;
constexpr size_t ENTRY_DIGEST_SIZE = 16;

enum class EntryKind : uint8_t {
  Package = 1,    // a game package, decoded and handed to the launcher
  PlainFile = 2,  // copied into the game directory under its name's last part
  PathFile = 3,   // installed at its path inside the game directory
  Removal = 4,    // the file at its path is removed, if it holds the old bytes
  // Format 2: the names of the old builds a patch was made from, one per
  // line (UTF-8), base build first, for mkpatch to name them; the updater
  // passes it by.
  BuildList = 5,
};

// The result of the entry is a step toward its path's bytes: it is kept
// beside the file while the next delta of that path reads it, and never
// installed.
constexpr uint8_t ENTRY_FLAG_STEP = 0x01;

struct EntryDescriptor {
  EntryKind kind = EntryKind::PathFile;
  EntryCoding coding = EntryCoding::Stored;
  uint64_t decodedSize = 0;
  unsigned char decodedMd5[ENTRY_DIGEST_SIZE] = {};
  uint64_t sourceSize = 0;
  unsigned char sourceMd5[ENTRY_DIGEST_SIZE] = {};
  std::string path;  // GBK, '\' separators; empty for Package and PlainFile
  // A delta's source when it is not the file at `path`; same form as `path`.
  std::string sourcePath;
  uint8_t flags = 0;          // format 2: ENTRY_FLAG_STEP
  uint32_t sourceBuilds = 0;  // format 2: which old builds hold the source

  bool IsStep() const { return (flags & ENTRY_FLAG_STEP) != 0; }
};

enum class NameMarking {
  None,           // a plain entry: its data is the file
  Descriptor,     // format 1 or 2: the data begins with a descriptor
  UnknownFormat,  // the marker with a format this reader does not know
};

// What follows the NUL of the name in `field` (PATCH_NAME_FIELD_SIZE bytes);
// for a marked field, `format` (when given) receives its format byte.
NameMarking ReadNameMarking(const char* field, uint8_t* format = nullptr);
// Writes the marker and `format` after the name's NUL and clears the rest.
// False, with the field unchanged, when the name is too long to leave room.
bool WriteNameMarking(char (&field)[PATCH_NAME_FIELD_SIZE],
                      uint8_t format = ENTRY_DESCRIPTOR_FORMAT);

// Why a descriptor is refused. The numbers are fixed: the updater's failure
// text shows them.
enum class DescriptorError : uint8_t {
  None = 0,
  Truncated = 1,  // fewer bytes than the descriptor's fixed part or its size
  BadSize = 2,    // D out of bounds, or past the entry's data
  UnknownKind = 3,
  UnknownCoding = 4,
  ReservedNotZero = 5,
  BadPath = 6,       // a path missing, unsafe, too long, or present where none belongs
  Inconsistent = 7,  // the sizes and coding do not fit the kind or the stored bytes
  // Across entries: one file's entries do not lead to one file (entry_group.h).
  BrokenGroup = 8,
};

// Parses the descriptor of `format` (as the name's marking says) at the
// start of an entry's `entrySize` data bytes, of which `bytes` holds the
// first `available`. On success *descriptorSize is D, and entrySize - D
// stored bytes follow it.
DescriptorError ParseEntryDescriptor(const unsigned char* bytes, size_t available,
                                     uint32_t entrySize, EntryDescriptor* descriptor,
                                     uint32_t* descriptorSize,
                                     uint8_t format = ENTRY_DESCRIPTOR_FORMAT);

// The format `descriptor` is written in: format 1 wherever it can hold it.
uint8_t DescriptorFormatOf(const EntryDescriptor& descriptor);
// The descriptor's bytes in its format (D = the fixed part and both paths).
std::vector<unsigned char> EncodeEntryDescriptor(const EntryDescriptor& descriptor);

// A short English description of an error, for tools and logs.
const char* DescriptorErrorText(DescriptorError error);
// "package", "plain", "file", "removal", "builds".
const char* EntryKindText(EntryKind kind);
// "stored", "zstd", "delta", "zstd-x86".
const char* CodingName(EntryCoding coding);
