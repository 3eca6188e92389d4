#include "update/format/payload_digest.h"

#include <cstring>
#include <vector>

#include "update/base/md5.h"

namespace {

// Large enough that reading stays sequential and cheap, small enough to
// allocate once per run.
constexpr uint32_t kDigestChunk = 64 * 1024;

// Where the record begins in the target field, or the field size when the
// text has no NUL.
size_t RecordStart(const PatchTrailer& trailer) {
  const void* nul = std::memchr(trailer.targetVersion, '\0', PATCH_VERSION_FIELD_SIZE);
  if (nul == nullptr) return PATCH_VERSION_FIELD_SIZE;
  return static_cast<size_t>(static_cast<const char*>(nul) - trailer.targetVersion) + 1;
}

void Finish(MD5& md5, unsigned char (&digest)[PAYLOAD_DIGEST_SIZE]) {
  md5.finalize();
  const std::string raw = md5.raw_digest();
  std::memcpy(digest, raw.data(), PAYLOAD_DIGEST_SIZE);
}

}  // namespace

PayloadDigestRecord ParseDigestRecord(const PatchTrailer& trailer) {
  PayloadDigestRecord record;
  const size_t start = RecordStart(trailer);
  if (start + PAYLOAD_DIGEST_RECORD_SIZE > PATCH_VERSION_FIELD_SIZE) return record;
  const unsigned char* bytes =
      reinterpret_cast<const unsigned char*>(trailer.targetVersion) + start;
  if (std::memcmp(bytes, PAYLOAD_DIGEST_MARKER, PAYLOAD_DIGEST_MARKER_SIZE) != 0) return record;
  record.format = bytes[PAYLOAD_DIGEST_MARKER_SIZE];
  if (record.format != PAYLOAD_DIGEST_FORMAT) {
    record.kind = DigestRecordKind::UnknownFormat;
    return record;
  }
  record.kind = DigestRecordKind::Present;
  std::memcpy(record.digest, bytes + PAYLOAD_DIGEST_MARKER_SIZE + 1, PAYLOAD_DIGEST_SIZE);
  return record;
}

bool WriteDigestRecord(PatchTrailer* trailer, const unsigned char (&digest)[PAYLOAD_DIGEST_SIZE]) {
  const size_t start = RecordStart(*trailer);
  if (start + PAYLOAD_DIGEST_RECORD_SIZE > PATCH_VERSION_FIELD_SIZE) return false;
  unsigned char* bytes = reinterpret_cast<unsigned char*>(trailer->targetVersion);
  std::memset(bytes + start, 0, PATCH_VERSION_FIELD_SIZE - start);
  std::memcpy(bytes + start, PAYLOAD_DIGEST_MARKER, PAYLOAD_DIGEST_MARKER_SIZE);
  bytes[start + PAYLOAD_DIGEST_MARKER_SIZE] = PAYLOAD_DIGEST_FORMAT;
  std::memcpy(bytes + start + PAYLOAD_DIGEST_MARKER_SIZE + 1, digest, PAYLOAD_DIGEST_SIZE);
  return true;
}

bool DigestRegion(ByteSource& source, uint64_t begin, uint64_t end,
                  unsigned char (&digest)[PAYLOAD_DIGEST_SIZE], uint64_t* digested) {
  *digested = 0;
  std::memset(digest, 0, PAYLOAD_DIGEST_SIZE);
  if (begin > end) return false;
  MD5 md5;
  std::vector<unsigned char> buffer(kDigestChunk);
  for (uint64_t position = begin; position < end;) {
    const uint64_t left = end - position;
    const uint32_t want = left < kDigestChunk ? static_cast<uint32_t>(left) : kDigestChunk;
    uint32_t got = 0;
    if (!source.ReadAt(position, buffer.data(), want, &got) || got == 0) return false;
    md5.update(buffer.data(), got);
    position += got;
    *digested += got;
  }
  Finish(md5, digest);
  return true;
}

bool DigestRegionAndFile(ByteSource& payload, ByteSource& file, uint64_t begin, uint64_t end,
                         unsigned char (&region)[PAYLOAD_DIGEST_SIZE], uint64_t* digested,
                         unsigned char (&whole)[PAYLOAD_DIGEST_SIZE], bool* wholeRead) {
  *digested = 0;
  *wholeRead = false;
  std::memset(region, 0, PAYLOAD_DIGEST_SIZE);
  std::memset(whole, 0, PAYLOAD_DIGEST_SIZE);
  // Bytes past the payload's end (a signature) never reach the region, as
  // they never come from `payload`.
  const uint64_t regionEnd = end < payload.Size() ? end : payload.Size();
  MD5 regionMd5;
  MD5 wholeMd5;
  std::vector<unsigned char> buffer(kDigestChunk);
  for (uint64_t position = 0; position < file.Size();) {
    const uint64_t left = file.Size() - position;
    const uint32_t want = left < kDigestChunk ? static_cast<uint32_t>(left) : kDigestChunk;
    uint32_t got = 0;
    if (!file.ReadAt(position, buffer.data(), want, &got) || got == 0) {
      return DigestRegion(payload, begin, end, region, digested);
    }
    wholeMd5.update(buffer.data(), got);
    const uint64_t from = position > begin ? position : begin;
    const uint64_t to = position + got < regionEnd ? position + got : regionEnd;
    if (begin <= end && from < to) {
      regionMd5.update(buffer.data() + (from - position), static_cast<uint32_t>(to - from));
      *digested += to - from;
    }
    position += got;
  }
  Finish(wholeMd5, whole);
  *wholeRead = true;
  if (begin > end || *digested != end - begin) return false;
  Finish(regionMd5, region);
  return true;
}

uint64_t DigestRegionEnd(const PatchTrailer& trailer) {
  return trailer.totalFileSize >= PATCH_TRAILER_SIZE ? trailer.totalFileSize - PATCH_TRAILER_SIZE
                                                     : 0;
}

std::string DigestHex(const unsigned char (&digest)[PAYLOAD_DIGEST_SIZE]) {
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : digest) {
    hex += kHex[byte >> 4];
    hex += kHex[byte & 15];
  }
  return hex;
}
