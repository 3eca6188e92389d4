// The decoder's refusals and the ways of deltas in words, for mkpatch and for
// people. A file of its own: the updater logs a refusal's number and does not
// carry the texts.
#include "update/codec/delta_decoder.h"
#include "update/codec/entry_codec.h"

const char* DecodeErrorText(DecodeError error) {
  switch (error) {
    case DecodeError::None:
      return "no error";
    case DecodeError::UnknownCoding:
      return "unknown coding or delta method";
    case DecodeError::StoredUnreadable:
      return "stored bytes could not be read";
    case DecodeError::SizeMismatch:
      return "decodes to the wrong number of bytes";
    case DecodeError::SourceUnreadable:
      return "the installed file could not be read";
    case DecodeError::SinkFailed:
      return "the decoded bytes could not be written";
    case DecodeError::OutOfMemory:
      return "out of memory";
    case DecodeError::ZstdFrameBad:
      return "a zstd frame is malformed or asks for too large a window";
    case DecodeError::ZstdFrameCut:
      return "the stored bytes end inside a zstd frame";
    case DecodeError::StreamShort:
      return "a stream ends before the file is complete";
    case DecodeError::StreamLong:
      return "a stream holds bytes past the end of the file";
    case DecodeError::PrefixTooLarge:
      return "a prefix delta's source is larger than 16 MiB";
    case DecodeError::DeltaEmpty:
      return "a delta without its method byte";
    case DecodeError::DeltaHeaderCut:
      return "the delta's header is cut short";
    case DecodeError::DeltaFlagsUnknown:
      return "the delta's flags are unknown or contradict each other";
    case DecodeError::DeltaHeaderNumber:
      return "a malformed number in the delta's header";
    case DecodeError::DeltaStreamSizes:
      return "the delta's streams run past the entry";
    case DecodeError::PackedSize:
      return "the packed frame's size is missing or above 1 MiB";
    case DecodeError::ControlNumber:
      return "a malformed number in the control stream";
    case DecodeError::CommandEmpty:
      return "a command that makes no byte";
    case DecodeError::SeekOutside:
      return "a seek outside the source";
    case DecodeError::CopyPastSource:
      return "a copy past the source's end";
    case DecodeError::CommandPastEnd:
      return "commands that make more than the decoded size";
    case DecodeError::SparsePair:
      return "a malformed sparse difference";
    case DecodeError::SparseLeftOver:
      return "sparse differences past the copies";
    case DecodeError::X86MainSize:
      return "the x86 main stream's size is malformed";
    case DecodeError::X86Flag:
      return "an x86 flag other than 0 or 1";
    case DecodeError::X86SiteCut:
      return "the file ends inside a converted x86 site";
    case DecodeError::PeSourceRefused:
      return "a reference delta's source is not an image it can model";
    case DecodeError::PeLayoutBad:
      return "the new image's layout in a reference delta is malformed";
    case DecodeError::PeCorrectionBad:
      return "a reference delta's target correction is malformed";
    case DecodeError::PeRelocationSize:
      return "the rebuilt relocation table's size differs from the delta's";
    case DecodeError::LzmaHeader:
      return "an LZMA entry's conversion or dictionary size is not allowed";
    case DecodeError::LzmaDataBad:
      return "LZMA2 refused the stored bytes";
    case DecodeError::LzmaCut:
      return "the stored bytes end inside the LZMA2 stream";
  }
  return "unknown error";
}

const char* DeltaWayText(DeltaWay way) {
  switch (way) {
    case DeltaWay::Copies:
      return "copies";
    case DeltaWay::CopiesX86Branches:
      return "copies, x86 branches";
    case DeltaWay::CopiesImageReferences:
      return "copies, image references";
    case DeltaWay::SourcePrefix:
      return "old file as prefix";
    case DeltaWay::SourcePrefixX86Branches:
      return "old file as prefix, x86 branches";
    case DeltaWay::Unknown:
      break;
  }
  return "unknown";
}
