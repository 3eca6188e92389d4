// Reading and validating the whole entry table of a payload before anything
// is extracted: every entry must lie inside the file, clear of the trailer,
// and carry a safe name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "update/base/byte_source.h"
#include "update/format/payload.h"

struct PayloadEntry {
  std::string name;  // extraction name, "toplevel.tpk" for an empty one
  uint32_t size;
  uint64_t headerOffset;
  uint64_t dataOffset;
};

enum class PayloadError {
  None,
  FileTooShort,          // under 136 bytes: no trailer
  TrailerUnreadable,     // fewer than 136 bytes came back
  EntryCountImpossible,  // entryCount headers cannot fit before the trailer
  HeaderUnreadable,      // fewer than 84 header bytes came back (bytesRead)
  NameNotTerminated,     // no NUL within the 80-byte name field
  UnsafeName,            // see EntryNameProblem
  DataPastEnd,           // the entry's data runs past the end of the file
  OverlapsTrailer,       // the entry's header or data reaches into the trailer
};

struct PayloadTable {
  PayloadError error = PayloadError::None;
  uint32_t failedEntry = 0;           // index of the entry at fault
  uint32_t bytesRead = 0;             // for TrailerUnreadable and HeaderUnreadable
  std::vector<PayloadEntry> entries;  // those read before any failure
  uint64_t entriesEnd = 0;            // first byte after the last entry's data
};

// Reads the last 136 bytes. On failure *bytesRead tells how many came.
bool ReadTrailer(ByteSource& source, PatchTrailer* trailer, uint32_t* bytesRead);

// Reads and checks every entry header that `trailer` announces. Does not test
// the trailer's magic or total size (IsTrailerSound does).
PayloadTable ReadPayloadTable(ByteSource& source, const PatchTrailer& trailer);

// A short English description of an error, for tools and logs.
const char* PayloadErrorText(PayloadError error);
