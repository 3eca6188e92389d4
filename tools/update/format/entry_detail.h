// What an entry of a checked payload table is beyond its header's name and
// size: a plain entry, whose data is the file, or an entry marked after its
// name's NUL (entry_descriptor.h), whose data begins with a descriptor that
// says what the stored bytes after it are and where they go. The updater
// reads every entry's detail before its first write, so that a malformed one
// refuses the run; mkpatch reads them the same way. Portable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/base/byte_source.h"
#include "update/codec/entry_codec.h"
#include "update/format/entry_descriptor.h"
#include "update/format/payload_table.h"

struct EntryDetail {
  NameMarking marking = NameMarking::None;
  uint8_t format = 0;          // the marking's format byte, when marked
  EntryDescriptor descriptor;  // when HasDescriptor()
  uint32_t descriptorSize = 0;

  bool HasDescriptor() const { return marking == NameMarking::Descriptor; }
};

// Why an entry's detail is refused. The numbers are fixed: the updater's
// failure text shows the reason built from them.
enum class EntryDetailError : uint8_t {
  None = 0,
  UnknownFormat = 1,  // the marker with a format this reader does not know
  Unreadable = 2,     // the name field or the descriptor could not be read
  BadDescriptor = 3,  // see the DescriptorError
};

// Reads the entry's name field and its descriptor. On BadDescriptor
// *descriptorError says why.
EntryDetailError ReadEntryDetail(ByteSource& source, const PayloadEntry& entry, EntryDetail* detail,
                                 DescriptorError* descriptorError);

struct EntryDetails {
  EntryDetailError error = EntryDetailError::None;
  uint32_t failedEntry = 0;  // index of the entry at fault
  DescriptorError descriptorError = DescriptorError::None;
  std::vector<EntryDetail> details;  // one per table entry, in payload order, when sound
};

// Every entry's detail, or the first that is refused.
EntryDetails ReadEntryDetails(ByteSource& source, const std::vector<PayloadEntry>& table);

// How the updater installs the entry: a plain entry by its name (a package
// when it ends in .tpk, else a file copied into the game directory), a marked
// one by its descriptor's kind.
EntryKind InstallKindOf(const PayloadEntry& entry, const EntryDetail& detail);
// Where the updater puts the entry, relative to the game directory (GBK,
// '\' between parts): a plain file's last part, a marked entry's path; empty
// for a package, which the launcher takes.
std::string DestinationOf(const PayloadEntry& entry, const EntryDetail& detail);
// The file name a plain entry is installed under: the text after the last
// '\\' or '/', found without splitting double-byte characters.
std::string InstallFileName(const std::string& gbkName);

// The stored bytes: the whole data of a plain entry, what follows the
// descriptor of a marked one; and the size of the file they stand for.
uint64_t StoredBegin(const PayloadEntry& entry, const EntryDetail& detail);
uint64_t StoredSize(const PayloadEntry& entry, const EntryDetail& detail);
uint64_t DecodedSize(const PayloadEntry& entry, const EntryDetail& detail);
EntryCoding CodingOf(const EntryDetail& detail);

// How to decode the entry from `payload`, against `deltaSource` (the
// installed file) for a delta, null otherwise.
DecodeRequest DecodeRequestFor(ByteSource& payload, const PayloadEntry& entry,
                               const EntryDetail& detail, ByteSource* deltaSource);
