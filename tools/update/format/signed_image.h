// An updater signed after it was built: the signer appends a certificate
// table (data directory entry 4 of the PE headers, whose "address" is a file
// offset) after up to 7 zero bytes that align it to 8 bytes. The payload's
// trailer then no longer ends the file; it ends where the padding begins.
//
// Every header field is read as untrusted: anything that does not add up
// makes the file count as unsigned, and nothing is read outside the source.
#pragma once

#include <cstdint>

#include "update/format/payload_table.h"

// Most zero bytes a signer puts before the table to align it to 8 bytes.
constexpr uint32_t SIGNATURE_MAX_PADDING = 7;

struct PeSignature {
  // The headers are those of a PE image and hold data directory entry 4.
  bool headersSound = false;
  uint64_t directoryEntryOffset = 0;  // file offset of entry 4 (8 bytes)
  uint32_t tableOffset = 0;           // entry 4 as it stands
  uint32_t tableSize = 0;
  // A certificate table that ends exactly at the end of the source.
  bool isSigned = false;
  // First byte after the last section's raw data (0 when unknown); padding
  // is never looked for before it.
  uint64_t sectionDataEnd = 0;
};

PeSignature ReadPeSignature(ByteSource& source);

// Where the updater's own bytes end: the whole source when unsigned; for a
// signed one, the size S in [tableOffset - 7, tableOffset] with only zero
// bytes from S to the table and a trailer whose totalFileSize says S. The
// trailer's own last bytes are usually zero too, so zeros alone cannot tell
// padding from trailer; the trailer decides, the least padding first. With
// no such trailer, the whole source, so that the file is judged (and
// refused) as it always was.
uint64_t PayloadEnd(ByteSource& source, const PeSignature& signature);

// Where a signed image without payload ended before it was signed: the zero
// bytes before the table are dropped, at most 7, never into section data.
uint64_t UnsignedImageEnd(ByteSource& source, const PeSignature& signature);

// The first `size` bytes of another source.
class BoundedPayloadSource : public ByteSource {
 public:
  BoundedPayloadSource(ByteSource& inner, uint64_t size);
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) override;

 private:
  ByteSource& inner_;
  uint64_t size_;
};
