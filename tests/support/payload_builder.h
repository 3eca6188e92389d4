// Builds updater files and bare payloads for the tests and benchmarks, in
// memory or streamed to a file. Portable: the native tests use it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "update/format/entry_descriptor.h"
#include "update/format/payload.h"

struct PayloadFile {
  std::string name;
  std::string data;  // the entry's bytes are `descriptor`, then `data` written `repeat` times
  size_t repeat = 1;
  // A described entry's descriptor (EncodeEntryDescriptor); with it, the
  // name field carries the marker. Empty for a plain entry.
  std::string descriptor = std::string();
  uint8_t format = ENTRY_DESCRIPTOR_FORMAT;  // the marking's, for a described entry
};

// The descriptor of a file that decodes to `decoded`: its kind, coding,
// size and MD5, and `path` (PathFile and Removal).
EntryDescriptor DescribeFile(EntryKind kind, EntryCoding coding, const std::string& decoded,
                             const std::string& path = std::string());
// Names `source` in `descriptor`: the installed file a delta applies to, or
// the old file a removal removes.
void DescribeSource(EntryDescriptor& descriptor, const std::string& source);
// The removal of the file at `path` that holds `old`.
EntryDescriptor DescribeRemoval(const std::string& path, const std::string& old);
// A described entry named `name`: `descriptor`, then `stored` `repeat` times.
PayloadFile DescribedFile(const std::string& name, const EntryDescriptor& descriptor,
                          const std::string& stored, size_t repeat = 1);

// What goes after the program: the entries and the trailer's versions.
struct PatchLayout {
  std::string baseVersion = "1.4.1.33960";
  std::string targetVersion = "1.4.1.34242";
  std::vector<PayloadFile> files;
  int totalSizeSkew = 0;  // nonzero: the trailer's total size is off by this much
};

// `text` in a fixed field, zero-filled, cut at the field's size without a
// terminator, as a name of exactly 80 bytes is stored.
void PutText(char* field, size_t fieldSize, const std::string& text);

void AppendEntry(std::vector<unsigned char>& file, const std::string& name, uint32_t size,
                 const std::string& data);
PatchTrailer MakeTrailer(uint32_t firstEntryOffset, uint32_t entryCount, uint32_t totalFileSize,
                         const std::string& base = "1.4.1.33960",
                         const std::string& target = "1.4.1.34242");
void AppendTrailer(std::vector<unsigned char>& file, const PatchTrailer& trailer);

// The entries of `layout` back to back, then its trailer, for a payload that
// starts at `firstOffset`; written piece by piece, so entries of many
// megabytes are never held whole.
void WritePayload(std::ostream& out, const PatchLayout& layout, uint32_t firstOffset);

// `program` followed by the payload of `layout`.
bool WriteUpdaterFile(const std::string& path, const std::string& program,
                      const PatchLayout& layout);

// A program of `programSize` bytes, the entries, and a sound trailer.
std::vector<unsigned char> BuildUpdater(size_t programSize, const std::vector<PayloadFile>& files);

// A bare payload (no program before it) as the launcher stand-in unpacks it.
std::string BarePackage(const std::vector<PayloadFile>& files);

// Puts the digest record of the file's entry region into its trailer, as
// `mkpatch build` does; false when the target version leaves no room.
bool AddDigestRecord(std::vector<unsigned char>& file);
