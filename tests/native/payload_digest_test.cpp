#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "failing_source.h"
#include "md5_hex.h"
#include "payload_builder.h"
#include "update/format/payload_digest.h"

namespace {

const unsigned char kDigest[PAYLOAD_DIGEST_SIZE] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                                    0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};

// Hands out at most 1000 bytes per read, as a slow handle may.
class TrickleSource : public MemoryByteSource {
 public:
  using MemoryByteSource::MemoryByteSource;
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) override {
    return MemoryByteSource::ReadAt(offset, buffer, length < 1000 ? length : 1000, bytesRead);
  }
};

}  // namespace

TEST(PayloadDigestRecord, SitsRightAfterTheTargetVersionsNul) {
  PatchTrailer trailer = MakeTrailer(0, 0, 136, "1.4.1.33960", "1.4.1.34242");
  std::memset(trailer.targetVersion + 12, 'G', PATCH_VERSION_FIELD_SIZE - 12);  // old leftovers
  ASSERT_TRUE(WriteDigestRecord(&trailer, kDigest));
  unsigned char bytes[PATCH_TRAILER_SIZE];
  EncodeTrailer(trailer, bytes);
  const unsigned char* field = bytes + 76;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(field), 12),
            std::string("1.4.1.34242\0", 12));
  const unsigned char marker[] = {0xD7, 'P', 'Y', 'L', 'D', 'M', 'D', 0x8F};
  EXPECT_EQ(0, std::memcmp(field + 12, marker, sizeof marker));
  EXPECT_EQ(1, field[20]);
  EXPECT_EQ(0, std::memcmp(field + 21, kDigest, sizeof kDigest));
  EXPECT_EQ(std::string(60 - 37, '\0'),
            std::string(reinterpret_cast<const char*>(field + 37), 60 - 37));
  EXPECT_EQ("1.4.1.34242", FieldText(trailer.targetVersion, PATCH_VERSION_FIELD_SIZE));

  PayloadDigestRecord record = ParseDigestRecord(DecodeTrailer(bytes));
  EXPECT_EQ(DigestRecordKind::Present, record.kind);
  EXPECT_EQ(0, std::memcmp(record.digest, kDigest, sizeof kDigest));
  EXPECT_EQ("00112233445566778899aabbccddeeff", DigestHex(record.digest));

  bytes[76 + 20] = 2;  // a later format: this reader checks nothing
  EXPECT_EQ(DigestRecordKind::UnknownFormat, ParseDigestRecord(DecodeTrailer(bytes)).kind);
}

TEST(PayloadDigestRecord, ThirtyFourBytesOfVersionFitThirtyFiveDoNot) {
  const std::string fits(PAYLOAD_DIGEST_MAX_VERSION, '1');
  EXPECT_EQ(34u, fits.size());
  PatchTrailer trailer = MakeTrailer(0, 0, 136, "1.0.0.0", fits);
  ASSERT_TRUE(WriteDigestRecord(&trailer, kDigest));
  EXPECT_EQ(DigestRecordKind::Present, ParseDigestRecord(trailer).kind);
  EXPECT_EQ(fits, FieldText(trailer.targetVersion, PATCH_VERSION_FIELD_SIZE));

  for (size_t length : {size_t(35), size_t(59), size_t(60)}) {
    PatchTrailer tight = MakeTrailer(0, 0, 136, "1.0.0.0", std::string(length, '1'));
    PatchTrailer before = tight;
    EXPECT_FALSE(WriteDigestRecord(&tight, kDigest)) << length;
    EXPECT_EQ(0, std::memcmp(&before, &tight, sizeof tight)) << length;
    EXPECT_EQ(DigestRecordKind::Absent, ParseDigestRecord(tight).kind) << length;
  }
}

TEST(PayloadDigestRecord, AnythingButTheExactMarkerAfterTheNulIsNoRecord) {
  PatchTrailer sound = MakeTrailer(0, 0, 136);
  ASSERT_TRUE(WriteDigestRecord(&sound, kDigest));
  char* target = sound.targetVersion;  // "1.4.1.34242", NUL at 11, marker at 12

  // The marker in the base version's field only.
  PatchTrailer inBase = MakeTrailer(0, 0, 136);
  std::memcpy(inBase.baseVersion, target, PATCH_VERSION_FIELD_SIZE);
  EXPECT_EQ(DigestRecordKind::Absent, ParseDigestRecord(inBase).kind);

  std::vector<PatchTrailer> garbled(5, sound);
  garbled[0].targetVersion[12 + 7] = 'X';                        // last marker byte wrong
  garbled[1].targetVersion[12] = 'X';                            // first marker byte wrong
  std::memmove(garbled[2].targetVersion + 13, target + 12, 25);  // one byte late
  garbled[2].targetVersion[12] = 'G';
  std::memcpy(garbled[3].targetVersion + 12, "\xD7PYLD", 5);  // part of the marker, then zeros
  std::memset(garbled[3].targetVersion + 17, 0, PATCH_VERSION_FIELD_SIZE - 17);
  std::memset(garbled[4].targetVersion, '7', 12);  // the text runs on into the record

  for (size_t i = 0; i < garbled.size(); ++i) {
    EXPECT_EQ(DigestRecordKind::Absent, ParseDigestRecord(garbled[i]).kind) << i;
  }
  std::memset(garbled[0].targetVersion, '1', PATCH_VERSION_FIELD_SIZE);  // no NUL at all
  EXPECT_EQ(DigestRecordKind::Absent, ParseDigestRecord(garbled[0]).kind);
}

TEST(PayloadDigestRegion, HashesExactlyTheRegionThroughShortReads) {
  std::string bytes(200000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
  TrickleSource source(bytes.data(), bytes.size());
  unsigned char digest[PAYLOAD_DIGEST_SIZE];
  uint64_t digested = 0;
  ASSERT_TRUE(DigestRegion(source, 5, 150005, digest, &digested));
  EXPECT_EQ(150000u, digested);
  EXPECT_EQ(Md5Hex(bytes.substr(5, 150000)), DigestHex(digest));
  ASSERT_TRUE(DigestRegion(source, 7, 7, digest, &digested));
  EXPECT_EQ(Md5Hex(""), DigestHex(digest));

  // Past the end of the file, or backwards: never a digest to compare.
  EXPECT_FALSE(DigestRegion(source, 190000, 200001, digest, &digested));
  EXPECT_EQ(10000u, digested);
  EXPECT_FALSE(DigestRegion(source, 10, 9, digest, &digested));

  PatchTrailer trailer = MakeTrailer(0, 0, 100);  // claims less than a trailer
  EXPECT_EQ(0u, DigestRegionEnd(trailer));
  trailer.totalFileSize = 1000;
  EXPECT_EQ(864u, DigestRegionEnd(trailer));
}

TEST(PayloadDigestRegion, BuilderRecordCoversEntriesNotProgramOrTrailer) {
  std::vector<unsigned char> file = BuildUpdater(33, {{"a.dll", "abc"}, {"b.dll", "de"}});
  ASSERT_TRUE(AddDigestRecord(file));
  unsigned char bytes[PATCH_TRAILER_SIZE];
  std::memcpy(bytes, file.data() + file.size() - PATCH_TRAILER_SIZE, PATCH_TRAILER_SIZE);
  PayloadDigestRecord record = ParseDigestRecord(DecodeTrailer(bytes));
  ASSERT_EQ(DigestRecordKind::Present, record.kind);
  std::string entries(file.begin() + 33, file.end() - PATCH_TRAILER_SIZE);
  EXPECT_EQ(Md5Hex(entries), DigestHex(record.digest));
}

namespace {

std::string Bytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 13 + i / 509);
  return bytes;
}

}  // namespace

// The one pass gives the region exactly what DigestRegion over the payload
// gives it (result, bytes hashed, digest), whatever the region, and the whole
// file's MD5 besides, signature bytes after the payload included.
TEST(PayloadDigestRegionAndFile, RegionAsDigestRegionGivesItAndEveryByteForTheFile) {
  const std::string bytes = Bytes(3 * 65536 + 777);
  const std::string wholeHex = Md5Hex(bytes);
  TrickleSource file(bytes.data(), bytes.size());
  struct Case {
    uint64_t payloadSize, begin, end;
  };
  const Case cases[] = {
      {bytes.size(), 0, bytes.size()},                       // the whole file
      {bytes.size(), 1000, bytes.size() - 136},              // program, region, trailer
      {bytes.size() - 777, 65535, 131073},                   // across chunk boundaries, signed
      {bytes.size() - 777, 70000, 70000},                    // empty region
      {bytes.size() - 777, 100, bytes.size() - 700},         // past the payload: into the signature
      {bytes.size() - 777, bytes.size(), bytes.size() + 5},  // begins past the payload
      {bytes.size(), 500, 499},                              // backwards
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.payloadSize << " " << c.begin << " " << c.end);
    MemoryByteSource payload(bytes.data(), c.payloadSize);
    unsigned char expected[PAYLOAD_DIGEST_SIZE];
    uint64_t expectedDigested = 99;
    const bool expectedOk = DigestRegion(payload, c.begin, c.end, expected, &expectedDigested);

    unsigned char region[PAYLOAD_DIGEST_SIZE];
    unsigned char whole[PAYLOAD_DIGEST_SIZE];
    uint64_t digested = 99;
    bool wholeRead = false;
    EXPECT_EQ(expectedOk, DigestRegionAndFile(payload, file, c.begin, c.end, region, &digested,
                                              whole, &wholeRead));
    EXPECT_EQ(expectedDigested, digested);
    EXPECT_EQ(DigestHex(expected), DigestHex(region));
    EXPECT_TRUE(wholeRead);
    EXPECT_EQ(wholeHex, DigestHex(whole));
  }
}

// A file that cannot be read to its end gives no whole digest; the region is
// judged by its own bytes alone, as before there was a second digest.
TEST(PayloadDigestRegionAndFile, UnreadableFileLeavesTheRegionToItsOwnRead) {
  const std::string bytes = Bytes(200000);
  const uint64_t payloadSize = 199000;
  MemoryByteSource payload(bytes.data(), payloadSize);
  unsigned char region[PAYLOAD_DIGEST_SIZE];
  unsigned char whole[PAYLOAD_DIGEST_SIZE];
  uint64_t digested = 0;
  bool wholeRead = true;

  FailingSource signatureUnreadable(bytes.data(), bytes.size(), payloadSize + 10);
  ASSERT_TRUE(DigestRegionAndFile(payload, signatureUnreadable, 100, 150000, region, &digested,
                                  whole, &wholeRead));
  EXPECT_FALSE(wholeRead);
  EXPECT_EQ(Md5Hex(bytes.substr(100, 149900)), DigestHex(region));
  EXPECT_EQ(149900u, digested);
  EXPECT_EQ(std::string(32, '0'), DigestHex(whole));

  // An error before the region: the region is still read and found sound.
  FailingSource programUnreadable(bytes.data(), bytes.size(), 10);
  wholeRead = true;
  ASSERT_TRUE(DigestRegionAndFile(payload, programUnreadable, 70000, 80000, region, &digested,
                                  whole, &wholeRead));
  EXPECT_FALSE(wholeRead);
  EXPECT_EQ(Md5Hex(bytes.substr(70000, 10000)), DigestHex(region));

  // The region itself unreadable: refused, as DigestRegion refuses it.
  FailingSource regionUnreadable(bytes.data(), bytes.size(), 75000);
  FailingSource payloadUnreadable(bytes.data(), bytes.size(), 75000);
  EXPECT_FALSE(DigestRegionAndFile(payloadUnreadable, regionUnreadable, 70000, 80000, region,
                                   &digested, whole, &wholeRead));
  EXPECT_FALSE(wholeRead);
}
