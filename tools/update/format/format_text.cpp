// The format's faults and names in words, for mkpatch's reports. A file of
// its own: the updater shows numbers, and does not carry the texts.
#include "update/format/entry_descriptor.h"
#include "update/format/payload_table.h"

const char* DescriptorErrorText(DescriptorError error) {
  switch (error) {
    case DescriptorError::None:
      return "no error";
    case DescriptorError::Truncated:
      return "descriptor cut short";
    case DescriptorError::BadSize:
      return "descriptor size out of bounds";
    case DescriptorError::UnknownKind:
      return "unknown entry kind";
    case DescriptorError::UnknownCoding:
      return "unknown coding";
    case DescriptorError::ReservedNotZero:
      return "reserved descriptor bytes not zero";
    case DescriptorError::BadPath:
      return "missing, unsafe or misplaced path";
    case DescriptorError::Inconsistent:
      return "sizes or coding do not fit the entry's kind";
    case DescriptorError::BrokenGroup:
      return "the entries of one file do not lead to one file";
  }
  return "unknown error";
}

const char* EntryKindText(EntryKind kind) {
  switch (kind) {
    case EntryKind::Package:
      return "package";
    case EntryKind::PlainFile:
      return "plain";
    case EntryKind::PathFile:
      return "file";
    case EntryKind::Removal:
      return "removal";
    case EntryKind::BuildList:
      return "builds";
  }
  return "unknown";
}

const char* CodingName(EntryCoding coding) {
  switch (coding) {
    case EntryCoding::Stored:
      return "stored";
    case EntryCoding::Zstd:
      return "zstd";
    case EntryCoding::Delta:
      return "delta";
    case EntryCoding::ZstdX86:
      return "zstd-x86";
    case EntryCoding::Lzma:
      return "lzma";
  }
  return "unknown";
}

const char* PayloadErrorText(PayloadError error) {
  switch (error) {
    case PayloadError::None:
      return "no error";
    case PayloadError::FileTooShort:
      return "file is shorter than the 136-byte trailer";
    case PayloadError::TrailerUnreadable:
      return "trailer could not be read";
    case PayloadError::EntryCountImpossible:
      return "entry count does not fit in the file";
    case PayloadError::HeaderUnreadable:
      return "entry header could not be read";
    case PayloadError::NameNotTerminated:
      return "entry name has no NUL within 80 bytes";
    case PayloadError::UnsafeName:
      return "entry name is unsafe";
    case PayloadError::DataPastEnd:
      return "entry data runs past the end of the file";
    case PayloadError::OverlapsTrailer:
      return "entry reaches into the trailer";
  }
  return "unknown error";
}
