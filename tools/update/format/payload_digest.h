// The payload digest record: an MD5 of the entry region that `mkpatch build`
// hides after the NUL of the trailer's target version, where no reader looks.
// Readers that predate it see the same version text; files without it (older
// builds, other writers, any garbage after the NUL) read as "no record".
//
// Record, starting at the byte after the target version's first NUL:
//   8 bytes  PAYLOAD_DIGEST_MARKER
//   1 byte   format, PAYLOAD_DIGEST_FORMAT
//  16 bytes  MD5 of the bytes from firstEntryOffset up to the trailer
//            (totalFileSize - 136)
// It must end within the 60-byte field, so a version text of at most 34
// bytes can carry it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "update/format/payload.h"
#include "update/format/payload_table.h"

constexpr size_t PAYLOAD_DIGEST_SIZE = 16;
constexpr size_t PAYLOAD_DIGEST_MARKER_SIZE = 8;
// Two bytes outside ASCII around a word: version texts are plain ASCII, and
// an arbitrary leftover matches all eight bytes once in 2^64.
constexpr unsigned char PAYLOAD_DIGEST_MARKER[PAYLOAD_DIGEST_MARKER_SIZE] = {0xD7, 'P', 'Y', 'L',
                                                                             'D',  'M', 'D', 0x8F};
constexpr uint8_t PAYLOAD_DIGEST_FORMAT = 1;
constexpr size_t PAYLOAD_DIGEST_RECORD_SIZE = PAYLOAD_DIGEST_MARKER_SIZE + 1 + PAYLOAD_DIGEST_SIZE;
// The longest version text that leaves room for its NUL and the record.
constexpr size_t PAYLOAD_DIGEST_MAX_VERSION =
    PATCH_VERSION_FIELD_SIZE - 1 - PAYLOAD_DIGEST_RECORD_SIZE;

enum class DigestRecordKind {
  Absent,         // no marker right after the NUL: check nothing
  Present,        // format 1: `digest` holds the recorded MD5
  UnknownFormat,  // the marker with a format this reader does not know
};

struct PayloadDigestRecord {
  DigestRecordKind kind = DigestRecordKind::Absent;
  uint8_t format = 0;
  unsigned char digest[PAYLOAD_DIGEST_SIZE] = {};
};

PayloadDigestRecord ParseDigestRecord(const PatchTrailer& trailer);

// Puts the record after the target version's NUL and clears the bytes after
// it. False, with the field unchanged, when the text leaves no room.
bool WriteDigestRecord(PatchTrailer* trailer, const unsigned char (&digest)[PAYLOAD_DIGEST_SIZE]);

// MD5 of the bytes [begin, end) of `source`, read through a bounded buffer.
// *digested tells how many bytes came; false when the region could not be
// read whole (begin past end, a read error, or the file ends early).
bool DigestRegion(ByteSource& source, uint64_t begin, uint64_t end,
                  unsigned char (&digest)[PAYLOAD_DIGEST_SIZE], uint64_t* digested);

// DigestRegion over `payload`, and the MD5 of every byte of `file`, in one
// read of `file` (the updater's whole file, a signature included, of which
// `payload` is the first payload.Size() bytes): the region gets exactly the
// bytes and the result DigestRegion would give it. *wholeRead tells whether
// `whole` holds the file's digest; when the file cannot be read whole, the
// region is left to DigestRegion alone, which reads only its own bytes.
bool DigestRegionAndFile(ByteSource& payload, ByteSource& file, uint64_t begin, uint64_t end,
                         unsigned char (&region)[PAYLOAD_DIGEST_SIZE], uint64_t* digested,
                         unsigned char (&whole)[PAYLOAD_DIGEST_SIZE], bool* wholeRead);

// The region the record covers, as the trailer places it: from
// firstEntryOffset up to totalFileSize - 136, so bytes after the trailer's
// own end (a signature) stay outside. Zero when the trailer places none.
uint64_t DigestRegionEnd(const PatchTrailer& trailer);

std::string DigestHex(const unsigned char (&digest)[PAYLOAD_DIGEST_SIZE]);
