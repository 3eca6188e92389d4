#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "payload_builder.h"
#include "pe_builder.h"
#include "update/format/payload_table.h"
#include "update/format/signed_image.h"

namespace {

// An updater: the image, entries whose data makes the unsigned size hit
// every remainder modulo 8, and a trailer that ends in zero bytes.
Bytes MakeUpdater(size_t extraBytes) {
  Bytes file = MakeImage(0x400);
  AppendEntry(file, "a.txt", static_cast<uint32_t>(extraBytes), std::string(extraBytes, 'a'));
  AppendTrailer(file, MakeTrailer(0x400, 1, static_cast<uint32_t>(file.size() + 136)));
  return file;
}

// The bytes held in memory of exactly their size, so a read past the end
// is caught by the address sanitizer.
struct ExactSource {
  explicit ExactSource(const Bytes& bytes)
      : data(new unsigned char[bytes.size() + 1]), source(data.get(), bytes.size()) {
    std::copy(bytes.begin(), bytes.end(), data.get());
  }
  std::unique_ptr<unsigned char[]> data;
  MemoryByteSource source;
};

bool LooksSigned(const Bytes& file) {
  ExactSource exact(file);
  PeSignature signature = ReadPeSignature(exact.source);
  if (!signature.isSigned) {
    EXPECT_EQ(PayloadEnd(exact.source, signature), file.size());
  }
  return signature.isSigned;
}

}  // namespace

TEST(SignedImage, SignedUpdatersOfEveryRemainderReadAsBeforeSigning) {
  for (size_t extra = 0; extra < 8; ++extra) {
    const Bytes plain = MakeUpdater(extra);
    const Bytes signedFile = Sign(plain);
    ExactSource exact(signedFile);
    const PeSignature signature = ReadPeSignature(exact.source);
    ASSERT_TRUE(signature.isSigned) << plain.size() % 8;
    EXPECT_EQ(PayloadEnd(exact.source, signature), plain.size()) << plain.size() % 8;

    BoundedPayloadSource bounded(exact.source, plain.size());
    PatchTrailer trailer;
    uint32_t got = 0;
    ASSERT_TRUE(ReadTrailer(bounded, &trailer, &got));
    EXPECT_TRUE(IsTrailerSound(trailer, bounded.Size()));
    PayloadTable table = ReadPayloadTable(bounded, trailer);
    EXPECT_EQ(table.error, PayloadError::None);
    ASSERT_EQ(table.entries.size(), 1u);
    EXPECT_EQ(table.entries[0].size, extra);
    // Nothing of the padding or table comes through the bounded source.
    unsigned char past[16];
    ASSERT_TRUE(bounded.ReadAt(plain.size() - 4, past, sizeof past, &got));
    EXPECT_EQ(got, 4u);
  }
}

TEST(SignedImage, UnsignedFilesKeepTheirWholeSize) {
  const Bytes plain = MakeUpdater(3);
  EXPECT_FALSE(LooksSigned(plain));
  Bytes trailing = Sign(plain);
  trailing.push_back(0);  // the table no longer ends the file
  EXPECT_FALSE(LooksSigned(trailing));
  // Signed, but no trailer before the signature: judged as a whole, as before.
  const Bytes signedImage = Sign(MakeImage(0x400));
  ExactSource exact(signedImage);
  PeSignature signature = ReadPeSignature(exact.source);
  EXPECT_TRUE(signature.isSigned);
  EXPECT_EQ(PayloadEnd(exact.source, signature), signedImage.size());
}

TEST(SignedImage, LyingOrTruncatedHeadersCountAsUnsigned) {
  const Bytes good = Sign(MakeUpdater(5));
  ASSERT_TRUE(LooksSigned(good));
  const uint32_t table = ReadLe32(&good[kSecurityEntry]);
  const uint32_t size = static_cast<uint32_t>(good.size());
  struct Lie {
    const char* what;
    size_t at;
    uint32_t value;
    bool twoBytes;
  };
  const Lie lies[] = {
      {"e_lfanew past the end", 0x3C, size, false},
      {"e_lfanew near 4 GiB", 0x3C, 0xFFFFFFF0u, false},
      {"no PE signature", 0x40, 0x00004551u, false},
      {"unknown optional header magic", kOptional, 0x10C, true},
      {"four data directories", kOptional + 92, 4, false},
      {"optional header too short for entry 4", 0x44 + 16, 132, true},
      {"table past the end", kSecurityEntry, size, false},
      {"size near 4 GiB", kSecurityEntry + 4, 0xFFFFFFF8u, false},
      {"table inside the headers", kSecurityEntry, 0x100, false},
      {"table shorter than a certificate header", kSecurityEntry + 4, 4, false},
      {"certificate longer than the table", table, 41, false},
      {"certificate shorter than its header", table, 7, false},
  };
  for (const Lie& lie : lies) {
    Bytes file = good;
    if (lie.twoBytes) {
      Put16(file, lie.at, static_cast<uint16_t>(lie.value));
    } else {
      WriteLe32(&file[lie.at], lie.value);
    }
    EXPECT_FALSE(LooksSigned(file)) << lie.what;
  }
  // Offset and size whose 32-bit sum wraps around to the file's size.
  Bytes wrapped = good;
  WriteLe32(&wrapped[kSecurityEntry], table + 0x80000000u);
  WriteLe32(&wrapped[kSecurityEntry + 4], size - table + 0x80000000u);
  EXPECT_FALSE(LooksSigned(wrapped));
  // Every cut of the signed file, the headers' bytes included.
  for (size_t length = 0; length < good.size(); ++length) {
    EXPECT_FALSE(LooksSigned(Bytes(good.begin(), good.begin() + length))) << length;
  }
}

TEST(SignedImage, StrippingTheSignatureKeepsSectionDataAndDropsOnlyPadding) {
  // The image ends 3 bytes short of 8-byte alignment: 3 zeros of padding go.
  Bytes image = MakeImage(0x3FD);
  Bytes signedFile = Sign(image);
  ExactSource exact(signedFile);
  EXPECT_EQ(UnsignedImageEnd(exact.source, ReadPeSignature(exact.source)), 0x3FDu);
  // Section data that itself ends in zeros is not padding.
  Bytes zeros = MakeImage(0x3FD);
  std::fill(zeros.end() - 5, zeros.end(), 0);
  Bytes signedZeros = Sign(zeros);
  ExactSource exactZeros(signedZeros);
  EXPECT_EQ(UnsignedImageEnd(exactZeros.source, ReadPeSignature(exactZeros.source)), 0x3FDu);
}
