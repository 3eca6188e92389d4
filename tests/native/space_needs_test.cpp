// What a run needs free on each volume before it writes anything.
#include "update/plan/space_needs.h"

#include <gtest/gtest.h>

namespace {

constexpr uint64_t kMiB = uint64_t(1) << 20;

PayloadEntry Entry(const std::string& name, uint32_t size) {
  PayloadEntry entry;
  entry.name = name;
  entry.size = size;
  entry.headerOffset = 0;
  entry.dataOffset = 0;
  return entry;
}

// Plain entries, extracted and copied as they always were.
EntrySpace Plain(const std::string& name, uint32_t size) {
  return SpaceOfEntry(Entry(name, size), EntryDetail(), false);
}

std::vector<VolumeNeed> SpaceNeeds(const std::vector<PayloadEntry>& entries,
                                   const std::string& tempVolume, const std::string& gameVolume) {
  std::vector<EntrySpace> spaces;
  for (const PayloadEntry& entry : entries) spaces.push_back(Plain(entry.name, entry.size));
  return SpaceNeedsFor(spaces, tempVolume, gameVolume);
}

TEST(SpaceNeeds, SeparateVolumesNeedTheLargestExtractedAndEveryStagedFile) {
  const std::vector<PayloadEntry> entries = {Entry("a.dll", 300), Entry("data\\b.pak", 7000),
                                             Entry("game.tpk", 90000), Entry("c.exe", 5000)};
  const std::vector<VolumeNeed> needs = SpaceNeeds(entries, "C:\\", "D:\\");
  ASSERT_EQ(2u, needs.size());
  EXPECT_EQ("C:\\", needs[0].volume);
  EXPECT_EQ(90000 + SPACE_MARGIN_BYTES, needs[0].bytes) << "every entry is extracted";
  EXPECT_EQ("D:\\", needs[1].volume);
  EXPECT_EQ(300 + 7000 + 5000 + SPACE_MARGIN_BYTES, needs[1].bytes)
      << "every plain file is staged beside its target before the first replaces it; a "
         "package goes to the launcher";
}

TEST(SpaceNeeds, OneVolumeCountsOnceWithTheSumAndOneMargin) {
  const std::vector<PayloadEntry> entries = {Entry("a.dll", 3 * kMiB), Entry("b.TPK", 4 * kMiB)};
  const std::vector<VolumeNeed> needs = SpaceNeeds(entries, "c:\\", "C:\\");
  ASSERT_EQ(1u, needs.size()) << "drive letters compare without regard to case";
  EXPECT_EQ("C:\\", needs[0].volume);
  EXPECT_EQ(4 * kMiB + 3 * kMiB + SPACE_MARGIN_BYTES, needs[0].bytes);
}

TEST(SpaceNeeds, NothingIsNeededWithoutEntriesAndOnlyTheMarginForEmptyOnes) {
  EXPECT_TRUE(SpaceNeeds({}, "C:\\", "D:\\").empty());
  const std::vector<VolumeNeed> needs = SpaceNeeds({Entry("empty.dll", 0)}, "C:\\", "D:\\");
  ASSERT_EQ(2u, needs.size());
  EXPECT_EQ(SPACE_MARGIN_BYTES, needs[0].bytes);
  EXPECT_EQ(SPACE_MARGIN_BYTES, needs[1].bytes);
}

TEST(SpaceNeeds, LargestEntriesNearTheFormatsLimitDoNotOverflow) {
  const std::vector<PayloadEntry> entries = {Entry("a.dll", 0xFFFFFFFFu),
                                             Entry("b.dll", 0xFFFFFFFEu)};
  const std::vector<VolumeNeed> needs = SpaceNeeds(entries, "C:\\", "C:\\");
  ASSERT_EQ(1u, needs.size());
  EXPECT_EQ(2 * uint64_t(0xFFFFFFFFu) + 0xFFFFFFFEu + SPACE_MARGIN_BYTES, needs[0].bytes)
      << "the larger extracted, and both staged";
}

TEST(SpaceNeeds, APlainFileNeedsItsSizeTwiceAndAPackageOnlyInTheRunsFolder) {
  EXPECT_EQ(1234u, Plain("a.dll", 1234).tempBytes);
  EXPECT_EQ(1234u, Plain("a.dll", 1234).gameBytes);
  EXPECT_EQ(1234u, Plain("dir\\X.Tpk", 1234).tempBytes);
  EXPECT_EQ(0u, Plain("dir\\X.Tpk", 1234).gameBytes);
  EXPECT_EQ(1234u, Plain("x.tpk.dll", 1234).gameBytes);
}

TEST(SpaceNeeds, MegabytesShortRoundsUp) {
  EXPECT_EQ(0u, MegabytesShort(5 * kMiB, 5 * kMiB));
  EXPECT_EQ(0u, MegabytesShort(5 * kMiB, 900 * kMiB));
  EXPECT_EQ(1u, MegabytesShort(5 * kMiB, 5 * kMiB - 1));
  EXPECT_EQ(1u, MegabytesShort(1, 0));
  EXPECT_EQ(5u, MegabytesShort(5 * kMiB, 0));
  EXPECT_EQ(6u, MegabytesShort(5 * kMiB + 1, 0));
}

EntrySpace Described(EntryKind kind, EntryCoding coding, uint32_t decodedSize,
                     bool installed = false) {
  EntryDetail detail;
  detail.marking = NameMarking::Descriptor;
  detail.descriptor.kind = kind;
  detail.descriptor.coding = coding;
  detail.descriptor.decodedSize = decodedSize;
  return SpaceOfEntry(Entry("described", 100), detail, installed);
}

// Described entries need their decoded sizes, not their stored ones: a file
// decoded beside its target on the game's volume, a package in the
// temporary folder, a removal nothing.
TEST(SpaceNeeds, DescribedEntriesNeedTheirDecodedSizesWhereTheyAreDecoded) {
  const std::vector<EntrySpace> spaces = {
      Described(EntryKind::PathFile, EntryCoding::Delta, 9 * kMiB),
      Described(EntryKind::PlainFile, EntryCoding::Zstd, 4 * kMiB),
      Described(EntryKind::Package, EntryCoding::Zstd, 7 * kMiB),
      Described(EntryKind::Removal, EntryCoding::Stored, 0),
      Plain("small.dll", 1000),
      Plain("small.tpk", 2000),
  };
  const std::vector<VolumeNeed> needs = SpaceNeedsFor(spaces, "C:\\", "D:\\");
  ASSERT_EQ(2u, needs.size());
  EXPECT_EQ("C:\\", needs[0].volume);
  EXPECT_EQ(7 * kMiB + SPACE_MARGIN_BYTES, needs[0].bytes) << "the package, decoded";
  EXPECT_EQ("D:\\", needs[1].volume);
  EXPECT_EQ(9 * kMiB + 4 * kMiB + 1000 + SPACE_MARGIN_BYTES, needs[1].bytes)
      << "each file's result beside its target";

  const std::vector<VolumeNeed> one = SpaceNeedsFor(spaces, "d:\\", "D:\\");
  ASSERT_EQ(1u, one.size());
  EXPECT_EQ(7 * kMiB + 13 * kMiB + 1000 + SPACE_MARGIN_BYTES, one[0].bytes);
}

TEST(SpaceNeeds, FilesAlreadyInstalledAndRemovalsNeedNothingButTheMargin) {
  const std::vector<EntrySpace> spaces = {
      Described(EntryKind::PathFile, EntryCoding::Delta, 9 * kMiB, true),
      Described(EntryKind::Removal, EntryCoding::Stored, 0),
  };
  const std::vector<VolumeNeed> needs = SpaceNeedsFor(spaces, "C:\\", "D:\\");
  ASSERT_EQ(2u, needs.size());
  EXPECT_EQ(SPACE_MARGIN_BYTES, needs[0].bytes);
  EXPECT_EQ(SPACE_MARGIN_BYTES, needs[1].bytes);
  EXPECT_TRUE(SpaceNeedsFor({}, "C:\\", "D:\\").empty());
}

// A way of several entries leaves, while a step is decoded, the step before
// it beside the target as well: only the largest such moment counts on top
// of what every file has staged, as one way is decoded at a time.
TEST(SpaceNeeds, TheLargestPassingStepComesOnTopOfEveryStagedFile) {
  std::vector<EntrySpace> spaces(3);
  spaces[0].gameBytes = 10 * kMiB;
  spaces[0].passingBytes = 6 * kMiB;
  spaces[1].gameBytes = 2 * kMiB;
  spaces[1].passingBytes = 9 * kMiB;
  spaces[2].gameBytes = 1 * kMiB;
  const std::vector<VolumeNeed> needs = SpaceNeedsFor(spaces, "C:\\", "D:\\");
  ASSERT_EQ(2u, needs.size());
  EXPECT_EQ(13 * kMiB + 9 * kMiB + SPACE_MARGIN_BYTES, needs[1].bytes);
}

}  // namespace
