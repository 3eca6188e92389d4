// The run's reading of every entry before it writes anything. A plain entry
// is its data, exactly as before; an entry marked after its name's NUL
// (entry_descriptor.h) has its descriptor read and every field checked here,
// so that a malformed one refuses the run before the first write. Portable.
#pragma once

#include <cstdint>
#include <vector>

#include "update/format/entry_descriptor.h"
#include "update/format/payload_table.h"

struct RunEntry {
  bool described = false;
  // The rest holds for described entries only.
  EntryDescriptor descriptor;
  uint64_t storedBegin = 0;  // the stored bytes that follow the descriptor
  uint64_t storedSize = 0;
};

enum class RunEntryError {
  None,
  UnknownFormat,  // the marker with a format this reader does not know
  Unreadable,     // the name field or the descriptor could not be read
  BadDescriptor,  // see descriptorError
};

struct RunEntries {
  RunEntryError error = RunEntryError::None;
  uint32_t failedEntry = 0;  // index of the entry at fault
  DescriptorError descriptorError = DescriptorError::None;
  std::vector<RunEntry> entries;  // one per table entry, in payload order, when sound
};

// Reads the marking and descriptor of every entry of `table` (already
// validated against `source`).
RunEntries ReadRunEntries(ByteSource& source, const std::vector<PayloadEntry>& table);
