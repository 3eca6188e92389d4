// What an entry is beyond its header's name and size: the marking after the
// name's NUL and, for a marked entry, the descriptor its data begins with.
#pragma once

#include <cstdint>
#include <string>

#include "update/format/entry_descriptor.h"
#include "update/format/payload_table.h"

struct EntryDetail {
  NameMarking marking = NameMarking::None;
  uint8_t format = 0;          // the marking's format byte, when marked
  EntryDescriptor descriptor;  // when HasDescriptor()
  uint32_t descriptorSize = 0;

  bool HasDescriptor() const { return marking == NameMarking::Descriptor; }
};

// Reads the entry's name field and its descriptor. An empty result, or why
// the updater would refuse the entry.
std::string ReadEntryDetail(ByteSource& source, const PayloadEntry& entry, EntryDetail* detail);

// How the updater installs the entry: a plain entry by its name (a package
// when it ends in .tpk, else a file copied into the game directory), a marked
// one by its descriptor's kind.
EntryKind InstallKindOf(const PayloadEntry& entry, const EntryDetail& detail);

// The stored bytes: the whole data of a plain entry, what follows the
// descriptor of a marked one.
uint64_t StoredBegin(const PayloadEntry& entry, const EntryDetail& detail);
uint64_t StoredSize(const PayloadEntry& entry, const EntryDetail& detail);
// The size of the file the entry stands for (its data for a plain entry).
uint64_t DecodedSize(const PayloadEntry& entry, const EntryDetail& detail);
EntryCoding CodingOf(const EntryDetail& detail);
