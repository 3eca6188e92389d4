// Whole files through LZMA2: the conversion each machine's code gets, the
// dictionary the encoder asks for, and the decoder's checks of every stored
// byte it is handed.
#include <gtest/gtest.h>

#include "codec_test_support.h"
#include "mkpatch/codec/lzma_encode.h"
#include "mkpatch/codec/zstd_encode.h"
#include "update/codec/lzma_stream.h"
#include "update/codec/pe_layout.h"

namespace {

// `body` with the first headers of a Windows image for `machine` over it:
// what the encoder looks at to choose the conversion.
Bytes WithImageHeaders(Bytes body, uint16_t machine) {
  if (body.size() < 0x100) body.resize(0x100);
  body[0] = 'M';
  body[1] = 'Z';
  body[0x3C] = 0x80;
  body[0x3D] = body[0x3E] = body[0x3F] = 0;
  body[0x80] = 'P';
  body[0x81] = 'E';
  body[0x82] = body[0x83] = 0;
  body[0x84] = static_cast<unsigned char>(machine);
  body[0x85] = static_cast<unsigned char>(machine >> 8);
  return body;
}

// ARM64-like code: 32-bit little-endian instructions, a third of them BL
// to one of a few functions (a different immediate at every place) and
// the rest from a small set.
Bytes Arm64Like(size_t words, uint32_t seed) {
  TestGenerator random(seed);
  const uint32_t common[] = {0xD503201Fu, 0xA9BF7BFDu, 0x910003FDu, 0xF9400000u,
                             0xB9400020u, 0x52800000u, 0xA8C17BFDu, 0xD65F03C0u};
  Bytes code;
  for (size_t at = 0; at < words; ++at) {
    uint32_t word = common[random.Below(8)];
    if (random.Below(3) == 0) {
      const uint32_t target = random.Below(16) * 1024;
      word = 0x94000000u | ((target - static_cast<uint32_t>(at)) & 0x03FFFFFFu);
    }
    for (int k = 0; k < 4; ++k) code.push_back(static_cast<unsigned char>(word >> (8 * k)));
  }
  return code;
}

TEST(LzmaEntry, EachMachineGetsItsConversionAndEveryFileComesBack) {
  const Bytes program = ProgramLike(60000, 31);
  const struct {
    uint16_t machine;
    uint8_t conversion;
  } cases[] = {{COFF_MACHINE_X86, LZMA_CONVERSION_X86},
               {COFF_MACHINE_X64, LZMA_CONVERSION_X86},
               {COFF_MACHINE_ARM64, LZMA_CONVERSION_ARM64},
               {0x1C4, LZMA_CONVERSION_NONE}};  // 32-bit ARM: none
  for (const auto& want : cases) {
    const Bytes file = WithImageHeaders(program, want.machine);
    EXPECT_EQ(LzmaConversionFor(file.data(), file.size()), want.conversion) << want.machine;
    const Bytes stored = CompressLzma(file.data(), file.size(), want.conversion);
    ASSERT_GE(stored.size(), LZMA_HEADER_SIZE);
    EXPECT_EQ(stored[0], want.conversion);
    Bytes out;
    ASSERT_EQ(DecodeInMemory(EntryCoding::Lzma, stored, file.size(), Bytes(), &out),
              DecodeError::None)
        << want.machine;
    EXPECT_TRUE(out == file) << want.machine;
  }
  // Anything that only looks like an image is plain bytes.
  Bytes cut = WithImageHeaders(program, COFF_MACHINE_X86);
  cut[0x3C] = 0xF0;  // the PE header lies past the bytes given
  EXPECT_EQ(LzmaConversionFor(cut.data(), 0x100), LZMA_CONVERSION_NONE);
  EXPECT_EQ(LzmaConversionFor(program.data(), program.size()), LZMA_CONVERSION_NONE);
  EXPECT_EQ(LzmaConversionFor(nullptr, 0), LZMA_CONVERSION_NONE);
  // Empty files and single bytes round-trip too.
  for (size_t size : {size_t(0), size_t(1)}) {
    const Bytes tiny(size, 'x');
    Bytes out;
    EXPECT_EQ(
        DecodeInMemory(EntryCoding::Lzma, CompressLzma(tiny.data(), size, 0), size, Bytes(), &out),
        DecodeError::None);
    EXPECT_TRUE(out == tiny);
  }
}

TEST(LzmaEntry, TheDictionaryIsTheSmallestThatHoldsTheFile) {
  EXPECT_EQ(LzmaDictionarySize(0), 4096u);
  EXPECT_EQ(LzmaDictionarySize(1), 6144u);
  EXPECT_EQ(LzmaDictionarySize(LZMA_DICTIONARY_PROPERTY_MAX), uint64_t(16) << 20);
  for (size_t size : {size_t(100), size_t(4096), size_t(4097), size_t(70000)}) {
    const Bytes file = ProgramLike(size, 5);
    const Bytes stored = CompressLzma(file.data(), file.size(), LZMA_CONVERSION_NONE);
    const uint8_t property = stored[1];
    EXPECT_GE(LzmaDictionarySize(property), size) << size;
    if (property > 0) {
      EXPECT_LT(LzmaDictionarySize(property - 1), size) << size;
    }
  }
}

TEST(LzmaEntry, TheEncoderTakesLzmaWhereItIsSmallest) {
  // ARM64 code, which zstd has no conversion for, ships through LZMA2 with
  // the ARM64 conversion, smaller than zstd at its highest level.
  const Bytes arm64 = WithImageHeaders(Arm64Like(40000, 3), COFF_MACHINE_ARM64);
  const EncodedData whole = EncodeWhole(arm64.data(), arm64.size());
  ASSERT_EQ(whole.coding, EntryCoding::Lzma);
  EXPECT_EQ(whole.bytes[0], LZMA_CONVERSION_ARM64);
  EXPECT_LT(whole.bytes.size(), CompressZstd(arm64.data(), arm64.size(), 22).size());
  EXPECT_LT(whole.bytes.size(),
            CompressLzma(arm64.data(), arm64.size(), LZMA_CONVERSION_NONE).size());
  Bytes out;
  ASSERT_EQ(DecodeInMemory(EntryCoding::Lzma, whole.bytes, arm64.size(), Bytes(), &out),
            DecodeError::None);
  EXPECT_TRUE(out == arm64);
}

TEST(LzmaEntry, AChangedFileThatShipsWholeIsWrittenThroughLzmaToo) {
  // Past the size where every way is written in full, an ARM64 program with
  // nothing in common with its old file ships whole, smaller through LZMA2
  // than at zstd's levels.
  Bytes noise(300000);
  TestGenerator random(17);
  for (unsigned char& byte : noise) byte = static_cast<unsigned char>(random.Next());
  const Bytes arm64 = WithImageHeaders(Arm64Like(100000, 4), COFF_MACHINE_ARM64);
  const EncodedData data = EncodeChanged(noise.data(), noise.size(), arm64.data(), arm64.size());
  ASSERT_EQ(data.coding, EntryCoding::Lzma);
  EXPECT_EQ(data.bytes[0], LZMA_CONVERSION_ARM64);
  Bytes out;
  ASSERT_EQ(DecodeInMemory(EntryCoding::Lzma, data.bytes, arm64.size(), noise, &out),
            DecodeError::None);
  EXPECT_TRUE(out == arm64);
}

TEST(LzmaEntryRefusal, HeadersStreamsAndSizesAreChecked) {
  const Bytes file = ProgramLike(30000, 9);
  const Bytes good = CompressLzma(file.data(), file.size(), LZMA_CONVERSION_X86);
  Bytes out;
  ASSERT_EQ(DecodeInMemory(EntryCoding::Lzma, good, file.size(), Bytes(), &out), DecodeError::None);
  ASSERT_TRUE(out == file);

  Bytes bad = good;
  bad[0] = LZMA_CONVERSION_ARM64 + 1;
  EXPECT_EQ(DecodeInMemory(EntryCoding::Lzma, bad, file.size(), Bytes(), &out),
            DecodeError::LzmaHeader);
  bad = good;
  bad[1] = LZMA_DICTIONARY_PROPERTY_MAX + 1;
  EXPECT_EQ(DecodeInMemory(EntryCoding::Lzma, bad, file.size(), Bytes(), &out),
            DecodeError::LzmaHeader);
  // A larger dictionary than the encoder's, within the bound, decodes alike.
  bad = good;
  bad[1] = LZMA_DICTIONARY_PROPERTY_MAX;
  EXPECT_EQ(DecodeInMemory(EntryCoding::Lzma, bad, file.size(), Bytes(), &out), DecodeError::None);
  EXPECT_TRUE(out == file);

  EXPECT_EQ(DecodeInMemory(EntryCoding::Lzma, Bytes(1, 0), 0, Bytes(), &out), DecodeError::LzmaCut);
  EXPECT_EQ(DecodeInMemory(EntryCoding::Lzma, Bytes(good.begin(), good.begin() + 2), file.size(),
                           Bytes(), &out),
            DecodeError::LzmaCut);
  // Without its end marker, or cut in the middle.
  for (size_t keep : {good.size() - 1, good.size() / 2}) {
    const Bytes cut(good.begin(), good.begin() + static_cast<long>(keep));
    const DecodeError error = DecodeInMemory(EntryCoding::Lzma, cut, file.size(), Bytes(), &out);
    EXPECT_TRUE(error == DecodeError::LzmaCut || error == DecodeError::SizeMismatch) << keep;
  }
  // Bytes after the end marker, and sizes that are not the file's.
  Bytes longer = good;
  longer.push_back(0);
  EXPECT_EQ(DecodeInMemory(EntryCoding::Lzma, longer, file.size(), Bytes(), &out),
            DecodeError::SizeMismatch);
  EXPECT_EQ(DecodeInMemory(EntryCoding::Lzma, good, file.size() - 1, Bytes(), &out),
            DecodeError::SizeMismatch);
  EXPECT_EQ(DecodeInMemory(EntryCoding::Lzma, good, file.size() + 1, Bytes(), &out),
            DecodeError::SizeMismatch);
}

TEST(LzmaEntryRefusal, DamagedStreamsNeverWritePastTheFile) {
  // LZMA2 has no checksum of its own (the entry's MD5 catches damage that
  // decodes): whatever a damaged byte does, the decoder writes at most the
  // file's size and reports success only with all of it.
  const Bytes file = ProgramLike(20000, 12);
  const Bytes good = CompressLzma(file.data(), file.size(), LZMA_CONVERSION_NONE);
  int refused = 0;
  for (size_t at = LZMA_HEADER_SIZE; at < good.size(); at += 7) {
    Bytes bad = good;
    bad[at] ^= static_cast<unsigned char>(1 + at % 255);
    Bytes out;
    const DecodeError error = DecodeInMemory(EntryCoding::Lzma, bad, file.size(), Bytes(), &out);
    EXPECT_LE(out.size(), file.size()) << at;
    if (error == DecodeError::None) {
      EXPECT_EQ(out.size(), file.size()) << at;
    } else {
      ++refused;
    }
  }
  // The chunk headers and the range coder's state catch most damage.
  EXPECT_GT(refused, 0);
}

}  // namespace
