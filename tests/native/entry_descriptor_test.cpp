#include "update/format/entry_descriptor.h"

#include <cstring>

#include "gtest/gtest.h"

namespace {

using Bytes = std::vector<unsigned char>;

EntryDescriptor DeltaAt(const char* path) {
  EntryDescriptor d;
  d.kind = EntryKind::PathFile;
  d.coding = EntryCoding::Delta;
  d.decodedSize = 5000;
  std::memset(d.decodedMd5, 0xAB, sizeof d.decodedMd5);
  d.sourceSize = 4000;
  std::memset(d.sourceMd5, 0xCD, sizeof d.sourceMd5);
  d.path = path;
  return d;
}

DescriptorError Parse(const Bytes& bytes, uint32_t entrySize, EntryDescriptor* out = nullptr,
                      uint32_t* size = nullptr) {
  EntryDescriptor scratch;
  uint32_t scratchSize = 0;
  return ParseEntryDescriptor(bytes.data(), bytes.size(), entrySize, out ? out : &scratch,
                              size ? size : &scratchSize);
}

TEST(EntryDescriptor, RoundTripsEveryField) {
  const EntryDescriptor d = DeltaAt("bin\\\xB5\x5C.dll");  // a GBK character ending in 0x5C
  const Bytes bytes = EncodeEntryDescriptor(d);
  ASSERT_EQ(bytes.size(), ENTRY_DESCRIPTOR_FIXED_SIZE + d.path.size());
  EntryDescriptor parsed;
  uint32_t size = 0;
  ASSERT_EQ(Parse(bytes, static_cast<uint32_t>(bytes.size()) + 100, &parsed, &size),
            DescriptorError::None);
  EXPECT_EQ(size, bytes.size());
  EXPECT_EQ(parsed.kind, d.kind);
  EXPECT_EQ(parsed.coding, d.coding);
  EXPECT_EQ(parsed.decodedSize, d.decodedSize);
  EXPECT_EQ(parsed.sourceSize, d.sourceSize);
  EXPECT_EQ(0, std::memcmp(parsed.decodedMd5, d.decodedMd5, 16));
  EXPECT_EQ(0, std::memcmp(parsed.sourceMd5, d.sourceMd5, 16));
  EXPECT_EQ(parsed.path, d.path);
}

TEST(EntryDescriptor, SizeFieldBoundsAreChecked) {
  Bytes bytes = EncodeEntryDescriptor(DeltaAt("a.dll"));
  const uint32_t d = static_cast<uint32_t>(bytes.size());
  // The entry must hold the whole descriptor.
  EXPECT_EQ(Parse(bytes, d - 1), DescriptorError::BadSize);
  EXPECT_EQ(Parse(bytes, 10), DescriptorError::Truncated);
  EXPECT_EQ(Parse(Bytes(bytes.begin(), bytes.begin() + 59), d), DescriptorError::Truncated);
  // The path must be within the bytes at hand.
  EXPECT_EQ(Parse(Bytes(bytes.begin(), bytes.end() - 1), d), DescriptorError::Truncated);
  // A size below the fixed part and path, or above the maximum, is refused.
  WriteLe32(bytes.data(), d - 1);
  EXPECT_EQ(Parse(bytes, 100000), DescriptorError::BadSize);
  WriteLe32(bytes.data(), ENTRY_DESCRIPTOR_MAX_SIZE + 1);
  EXPECT_EQ(Parse(bytes, 100000), DescriptorError::BadSize);
  // A larger size leaves room for later fields; the stored bytes begin after it.
  bytes.resize(200, 0);
  WriteLe32(bytes.data(), 200);
  uint32_t size = 0;
  EXPECT_EQ(Parse(bytes, 300, nullptr, &size), DescriptorError::None);
  EXPECT_EQ(size, 200u);
}

TEST(EntryDescriptor, UnknownValuesAndReservedBytesAreRefused) {
  const Bytes good = EncodeEntryDescriptor(DeltaAt("a.dll"));
  Bytes bytes = good;
  bytes[4] = 0;
  EXPECT_EQ(Parse(bytes, 1000), DescriptorError::UnknownKind);
  bytes[4] = 5;
  EXPECT_EQ(Parse(bytes, 1000), DescriptorError::UnknownKind);
  bytes = good;
  bytes[5] = 5;
  EXPECT_EQ(Parse(bytes, 1000), DescriptorError::UnknownCoding);
  for (size_t at = 50; at < 60; ++at) {
    bytes = good;
    bytes[at] = 1;
    EXPECT_EQ(Parse(bytes, 1000), DescriptorError::ReservedNotZero) << at;
  }
  bytes = good;
  bytes[6] = 0x04;  // 260 + 4 bytes of path
  bytes[7] = 0x01;
  EXPECT_EQ(Parse(bytes, 1000), DescriptorError::BadPath);
}

TEST(EntryDescriptor, PathsAreCheckedAsEntryNames) {
  for (const char* path : {"..\\x.dll", "\\x.dll", "C:x", "a\\\\b", "NUL.txt", "a\\b.", "a?b"}) {
    EXPECT_EQ(Parse(EncodeEntryDescriptor(DeltaAt(path)), 1000), DescriptorError::BadPath) << path;
  }
  // A package has no path; a file at a path needs one.
  EntryDescriptor package;
  package.kind = EntryKind::Package;
  package.coding = EntryCoding::Zstd;
  package.path = "x.tpk";
  EXPECT_EQ(Parse(EncodeEntryDescriptor(package), 1000), DescriptorError::BadPath);
  EXPECT_EQ(Parse(EncodeEntryDescriptor(DeltaAt("")), 1000), DescriptorError::BadPath);
}

TEST(EntryDescriptor, ADeltaMayNameItsSourceAtAnotherPath) {
  EntryDescriptor renamed = DeltaAt("lib\\new-8.17.dll");
  renamed.sourcePath = "lib\\new-8.16.dll";
  const Bytes bytes = EncodeEntryDescriptor(renamed);
  EntryDescriptor parsed;
  uint32_t size = 0;
  ASSERT_EQ(Parse(bytes, static_cast<uint32_t>(bytes.size()) + 10, &parsed, &size),
            DescriptorError::None);
  EXPECT_EQ(size, bytes.size());
  EXPECT_EQ(parsed.path, renamed.path);
  EXPECT_EQ(parsed.sourcePath, renamed.sourcePath);
  // Cut short, the source path is missing; unsafe, it is refused; on
  // anything but a delta at a path it has no place.
  EXPECT_EQ(Parse(Bytes(bytes.begin(), bytes.end() - 1), 1000), DescriptorError::Truncated);
  renamed.sourcePath = "..\\outside.dll";
  EXPECT_EQ(Parse(EncodeEntryDescriptor(renamed), 1000), DescriptorError::BadPath);
  EntryDescriptor whole;
  whole.kind = EntryKind::PathFile;
  whole.coding = EntryCoding::Zstd;
  whole.path = "a.dll";
  whole.sourcePath = "b.dll";
  EXPECT_EQ(Parse(EncodeEntryDescriptor(whole), 1000), DescriptorError::BadPath);
}

TEST(EntryDescriptor, KindsAgreeWithTheirSizesAndSources) {
  // Stored bytes are the file: the stored size must be the decoded size.
  EntryDescriptor stored;
  stored.kind = EntryKind::PathFile;
  stored.decodedSize = 10;
  stored.path = "new.dat";
  Bytes bytes = EncodeEntryDescriptor(stored);
  const uint32_t d = static_cast<uint32_t>(bytes.size());
  EXPECT_EQ(Parse(bytes, d + 10), DescriptorError::None);
  EXPECT_EQ(Parse(bytes, d + 11), DescriptorError::Inconsistent);
  // Only a delta names a source, and a delta must.
  stored.sourceSize = 3;
  EXPECT_EQ(Parse(EncodeEntryDescriptor(stored), d + 10), DescriptorError::Inconsistent);
  EntryDescriptor delta = DeltaAt("a.dll");
  std::memset(delta.sourceMd5, 0, sizeof delta.sourceMd5);
  EXPECT_EQ(Parse(EncodeEntryDescriptor(delta), 1000), DescriptorError::Inconsistent);
  delta = DeltaAt("a.dll");
  delta.kind = EntryKind::PlainFile;
  delta.path.clear();
  EXPECT_EQ(Parse(EncodeEntryDescriptor(delta), 1000), DescriptorError::Inconsistent);
  // A removal stores nothing, decodes to nothing and names the old file.
  EntryDescriptor removal;
  removal.kind = EntryKind::Removal;
  removal.path = "old.dll";
  removal.sourceSize = 7;
  std::memset(removal.sourceMd5, 1, sizeof removal.sourceMd5);
  bytes = EncodeEntryDescriptor(removal);
  const uint32_t rd = static_cast<uint32_t>(bytes.size());
  EXPECT_EQ(Parse(bytes, rd), DescriptorError::None);
  EXPECT_EQ(Parse(bytes, rd + 1), DescriptorError::Inconsistent);
  std::memset(removal.sourceMd5, 0, sizeof removal.sourceMd5);
  EXPECT_EQ(Parse(EncodeEntryDescriptor(removal), rd), DescriptorError::Inconsistent);
}

TEST(EntryDescriptor, NameMarkingSitsAfterTheNul) {
  char field[PATCH_NAME_FIELD_SIZE] = {};
  std::memcpy(field, "a.dll", 5);
  EXPECT_EQ(ReadNameMarking(field), NameMarking::None);
  ASSERT_TRUE(WriteNameMarking(field));
  EXPECT_STREQ(field, "a.dll");
  EXPECT_EQ(ReadNameMarking(field), NameMarking::Descriptor);
  field[6 + ENTRY_DESCRIPTOR_MARKER_SIZE] = ENTRY_DESCRIPTOR_FORMAT_2;
  EXPECT_EQ(ReadNameMarking(field), NameMarking::Descriptor);
  field[6 + ENTRY_DESCRIPTOR_MARKER_SIZE] = 3;
  EXPECT_EQ(ReadNameMarking(field), NameMarking::UnknownFormat);
  field[7] ^= 1;
  EXPECT_EQ(ReadNameMarking(field), NameMarking::None);

  // The longest name that fits, and one byte more.
  char longest[PATCH_NAME_FIELD_SIZE] = {};
  std::memset(longest, 'x', ENTRY_DESCRIPTOR_MAX_NAME);
  EXPECT_TRUE(WriteNameMarking(longest));
  EXPECT_EQ(ReadNameMarking(longest), NameMarking::Descriptor);
  char tooLong[PATCH_NAME_FIELD_SIZE] = {};
  std::memset(tooLong, 'x', ENTRY_DESCRIPTOR_MAX_NAME + 1);
  EXPECT_FALSE(WriteNameMarking(tooLong));
  EXPECT_EQ(ReadNameMarking(tooLong), NameMarking::None);
  // A field without a NUL carries no marking.
  char full[PATCH_NAME_FIELD_SIZE];
  std::memset(full, 'x', sizeof full);
  EXPECT_EQ(ReadNameMarking(full), NameMarking::None);
}

}  // namespace
