// Turning an entry's stored bytes back into the file they stand for: the
// bytes themselves, a zstd or LZMA2 stream, or a binary delta against the file the
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
#include "update/base/worker_thread.h"

// Recorded in an entry's descriptor; the numbers are part of the file format.
enum class EntryCoding : uint8_t {
  Stored = 0,   // the file's bytes as they are
  Zstd = 1,     // the file compressed as zstd frames
  Delta = 2,    // a delta against the installed source file (self-describing stream)
  ZstdX86 = 3,  // zstd frames of the file with its x86 branches converted (x86_branch_filter.h)
  Lzma = 4,     // the file through a branch conversion and LZMA2 (lzma_stream.h)
};

// Where decoded bytes go, in order. False stops decoding (a write failed).
class DecodeSink {
 public:
  virtual ~DecodeSink() = default;
  virtual bool Write(const unsigned char* data, uint32_t length) = 0;
};

// Why decoding stopped. The numbers are fixed: a failure text shows
// DecodeErrorCode, the log and mkpatch name the check with DecodeErrorText.
enum class DecodeError : uint8_t {
  None = 0,
  UnknownCoding = 1,     // a coding (or delta method) this decoder does not know
  StoredUnreadable = 2,  // the stored bytes could not be read from the updater's file
  // 3 is the code of every refusal of malformed stored bytes (16 and up).
  SizeMismatch = 4,      // the entry holds more or fewer bytes than its file
  SourceUnreadable = 5,  // a delta's source file could not be read, or is too short
  SinkFailed = 6,        // the sink refused a write
  OutOfMemory = 7,       // the decoder's bounded buffers could not be allocated

  // Malformed stored bytes, by the check that refused them.
  ZstdFrameBad = 16,       // zstd refused a frame (its own checks, or a window above the bound)
  ZstdFrameCut = 17,       // the stored bytes end inside a frame
  StreamShort = 18,        // a stream ended before the bytes the file needs
  StreamLong = 19,         // a stream holds bytes past those the file needs
  PrefixTooLarge = 20,     // a prefix delta's source is larger than DELTA_PREFIX_MAX
  DeltaEmpty = 21,         // a delta without even its method byte
  DeltaHeaderCut = 22,     // the header ends before its flags
  DeltaFlagsUnknown = 23,  // flags with unknown bits, or sparse and packed together
  DeltaHeaderNumber = 24,  // a malformed number in the header
  DeltaStreamSizes = 25,   // the streams' stored sizes run past the entry
  PackedSize = 26,         // the packed frame's content size is missing or too large
  ControlNumber = 27,      // a malformed number in the control stream
  CommandEmpty = 28,       // a command that makes no byte
  SeekOutside = 29,        // a seek outside the source
  CopyPastSource = 30,     // a copy past the source's end
  CommandPastEnd = 31,     // commands that make more than the decoded size
  SparsePair = 32,         // a malformed pair of the sparse differences, or a zero byte in one
  SparseLeftOver = 33,     // sparse differences past the copies
  X86MainSize = 34,        // the x86 conversion's main stream size is malformed or too large
  X86Flag = 35,            // an x86 flag other than 0 or 1
  X86SiteCut = 36,         // the file ends inside a converted site
  PeSourceRefused = 37,    // a reference delta's source is no image the model takes
  PeLayoutBad = 38,        // the new image's layout in a reference delta is malformed
  PeCorrectionBad = 39,    // a target correction is malformed or out of order
  PeRelocationSize = 40,   // the rebuilt relocation table is not the size the delta says
  LzmaHeader = 41,         // an LZMA entry names an unknown conversion or too large a dictionary
  LzmaDataBad = 42,        // LZMA2 refused the stored bytes (its own checks)
  LzmaCut = 43,            // the stored bytes end inside the LZMA2 stream
};

// The number a failure text shows: 3 for every refusal of malformed bytes.
int DecodeErrorCode(DecodeError error);
// Whether `error` refuses malformed stored bytes (code 3).
bool IsMalformed(DecodeError error);

struct DecodeRequest {
  EntryCoding coding = EntryCoding::Stored;
  ByteSource* stored = nullptr;  // the updater's file
  uint64_t storedBegin = 0;      // first stored byte of this entry's data
  uint64_t storedSize = 0;       // number of stored bytes
  ByteSource* source = nullptr;  // the installed file a delta applies to; else null
  uint64_t decodedSize = 0;      // exactly this many bytes must come out
  // A thread that may read `source` beside the caller's (its ReadAt must
  // then be safe from two threads) to find an image's references; null: one
  // thread does everything.
  WorkerThread* worker = nullptr;
};

DecodeError DecodeEntryData(const DecodeRequest& request, DecodeSink& sink);

// Where the two streams of x86-converted bytes lie (x86_branch_filter.h):
// the varint at `offset` into the entry gives the main stream's stored size,
// the flag stream takes the rest.
struct X86Streams {
  uint64_t mainBegin = 0;
  uint64_t mainSize = 0;
  uint64_t flagsBegin = 0;
  uint64_t flagsSize = 0;
};
DecodeError LocateX86Streams(const DecodeRequest& request, uint64_t offset, X86Streams* streams);

// A short English description, for tools and logs.
const char* DecodeErrorText(DecodeError error);
