// Turning an entry's stored bytes back into the file they stand for: the
// bytes themselves, a zstd stream, or a binary delta against the file the
// game has installed. Portable (no platform headers), streamed, and with a
// working set that does not depend on the size of any file involved.
//
// Every stored byte and every size is untrusted: the decoder checks each
// bound before it acts on it and fails cleanly on anything malformed. It
// never writes more than `decodedSize` bytes to the sink, and fails unless
// exactly that many came out.
#pragma once

#include <cstdint>

#include "update/base/byte_source.h"

// Recorded in an entry's descriptor; the numbers are part of the file format.
enum class EntryCoding : uint8_t {
  Stored = 0,   // the file's bytes as they are
  Zstd = 1,     // the file compressed as zstd frames
  Delta = 2,    // a delta against the installed source file (self-describing stream)
  ZstdX86 = 3,  // zstd frames of the file with its x86 branches converted (x86_branch_filter.h)
};

// Where decoded bytes go, in order. False stops decoding (a write failed).
class DecodeSink {
 public:
  virtual ~DecodeSink() = default;
  virtual bool Write(const unsigned char* data, uint32_t length) = 0;
};

enum class DecodeError {
  None,
  UnknownCoding,     // a coding (or delta method) this decoder does not know
  StoredUnreadable,  // the stored bytes could not be read from the updater's file
  Corrupt,           // the stored bytes are not a valid stream of their coding
  SizeMismatch,      // the stream decodes to more or fewer than decodedSize bytes
  SourceUnreadable,  // a delta's source file could not be read, or is too short
  SinkFailed,        // the sink refused a write
  OutOfMemory,       // the decoder's bounded buffers could not be allocated
};

struct DecodeRequest {
  EntryCoding coding = EntryCoding::Stored;
  ByteSource* stored = nullptr;  // the updater's file
  uint64_t storedBegin = 0;      // first stored byte of this entry's data
  uint64_t storedSize = 0;       // number of stored bytes
  ByteSource* source = nullptr;  // the installed file a delta applies to; else null
  uint64_t decodedSize = 0;      // exactly this many bytes must come out
};

DecodeError DecodeEntryData(const DecodeRequest& request, DecodeSink& sink);

// A short English description, for tools and logs.
const char* DecodeErrorText(DecodeError error);
