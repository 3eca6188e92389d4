// Files of any size: sizes around 2 GiB and 4 GiB, where 32-bit signed and
// unsigned counters wrap, kept whole in the descriptor, in the checks of the
// installed files, in the free space a run needs and in its progress. The
// large files here are sparse, so the tests stay quick.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "mkpatch_fixture.h"
#include "payload_builder.h"
#include "update/base/scaled_counters.h"
#include "update/format/entry_descriptor.h"
#include "update/plan/space_needs.h"

namespace mkpatch_test {
namespace {

constexpr uint64_t kGiB = uint64_t(1) << 30;
const uint64_t kSizes[] = {2 * kGiB - 1, 2 * kGiB,     2 * kGiB + 1, 4 * kGiB - 1,
                           4 * kGiB,     4 * kGiB + 1, 40 * kGiB + 7};

EntryDescriptor LargeDelta(uint64_t source, uint64_t decoded) {
  EntryDescriptor d;
  d.kind = EntryKind::PathFile;
  d.coding = EntryCoding::Delta;
  d.path = "data\\archive.pak";
  d.decodedSize = decoded;
  d.sourceSize = source;
  d.decodedMd5[0] = 1;
  d.sourceMd5[0] = 2;
  return d;
}

TEST(LargeSizes, DescriptorsHoldEverySizeInTheFormatThatServes) {
  for (uint64_t size : kSizes) {
    const EntryDescriptor d = LargeDelta(size, size + 3);
    const std::vector<unsigned char> bytes = EncodeEntryDescriptor(d);
    const uint8_t format = DescriptorFormatOf(d);
    EXPECT_EQ(format, size + 3 <= UINT32_MAX ? ENTRY_DESCRIPTOR_FORMAT : ENTRY_DESCRIPTOR_FORMAT_2)
        << size;
    EntryDescriptor parsed;
    uint32_t length = 0;
    ASSERT_EQ(ParseEntryDescriptor(bytes.data(), bytes.size(), 1000, &parsed, &length, format),
              DescriptorError::None)
        << size;
    EXPECT_EQ(parsed.sourceSize, size);
    EXPECT_EQ(parsed.decodedSize, size + 3);
    // Read in the other format, the same bytes are another descriptor or none.
    const uint8_t other =
        format == ENTRY_DESCRIPTOR_FORMAT ? ENTRY_DESCRIPTOR_FORMAT_2 : ENTRY_DESCRIPTOR_FORMAT;
    EntryDescriptor misread;
    if (ParseEntryDescriptor(bytes.data(), bytes.size(), 1000, &misread, &length, other) ==
        DescriptorError::None) {
      EXPECT_FALSE(misread.sourceSize == size && misread.decodedSize == size + 3) << size;
    }
  }
}

TEST(LargeSizes, ProgressCountersAreScaledAlikeIntoThirtyTwoBits) {
  EXPECT_EQ(CounterShift(UINT32_MAX), 0);
  EXPECT_EQ(CounterShift(uint64_t(UINT32_MAX) + 1), 1);
  for (uint64_t total : kSizes) {
    const int shift = CounterShift(total);
    EXPECT_LE(total >> shift, UINT32_MAX);
    if (shift > 0) {
      EXPECT_GT(total >> (shift - 1), UINT32_MAX) << "scaled more than needed";
    }
    // From start to end, never backwards.
    EXPECT_EQ(ScaledCounter(0, shift), 0u);
    uint32_t last = ScaledCounter(total, shift);
    for (int part = 6; part >= 0; --part) {
      const uint32_t scaled = ScaledCounter(total / 7 * static_cast<uint64_t>(part), shift);
      EXPECT_LE(scaled, last) << total;
      last = scaled;
    }
  }
}

TEST(LargeSizes, FreeSpaceIsCountedInSixtyFourBits) {
  EntryDetail detail;
  detail.marking = NameMarking::Descriptor;
  detail.descriptor = LargeDelta(4 * kGiB, 4 * kGiB + 5);
  PayloadEntry entry;
  entry.name = "archive.pak";
  entry.size = 100;
  const EntrySpace space = SpaceOfEntry(entry, detail, false);
  EXPECT_EQ(space.gameBytes, 4 * kGiB + 5);
  const std::vector<VolumeNeed> needs = SpaceNeedsFor({space, space}, "C:\\", "C:\\");
  ASSERT_EQ(needs.size(), 1u);
  EXPECT_EQ(needs[0].bytes, 2 * (4 * kGiB + 5) + SPACE_MARGIN_BYTES) << "both staged at once";
  EXPECT_EQ(MegabytesShort(needs[0].bytes, 7 * kGiB), 1026u) << "1 GiB, the margin and 10 bytes";
}

// mkpatch check judges a large installed file by its size first: one of
// another size is no source, and is never read.
class LargeCheck : public MkpatchTest {};

TEST_F(LargeCheck, ASourceOfAnotherSizeIsRefusedWithoutReadingIt) {
  const uint64_t size = 4 * kGiB + 1;
  fs::create_directories(P("game/data"));
  fs::create_directories(P("game/Config"));
  WriteAll(P("game/Config/Client.ini"), "[Version]\nGameVersion=1.4.1.34000\n");
  { std::ofstream(P("game/data/archive.pak")); }
  std::error_code error;
  fs::resize_file(P("game/data/archive.pak"), size, error);
  if (error) GTEST_SKIP() << "no sparse file of " << size << " bytes here: " << error.message();
  const std::vector<unsigned char> updater = BuildUpdater(
      64, {DescribedFile("archive.pak", LargeDelta(size + 1, size + 10), "stored delta")});
  WriteAll(P("out.exe"), std::string(updater.begin(), updater.end()));
  EXPECT_EQ(Run({"check", P("out.exe"), P("game"), "--json"}), 1);
  EXPECT_NE(out_.find("\"action\":\"mismatch\""), std::string::npos) << out_;
  EXPECT_NE(out_.find(std::to_string(size) + " bytes"), std::string::npos) << out_;
  EXPECT_NE(out_.find("needs " + std::to_string(size + 1) + " bytes"), std::string::npos) << out_;
}

}  // namespace
}  // namespace mkpatch_test
