// Reading every entry's detail before the first write: plain entries as
// they always were, described ones with their descriptors and stored bytes
// located, and anything malformed refused with the entry at fault.
#include "update/format/entry_detail.h"

#include <gtest/gtest.h>

#include <cstring>

#include "payload_builder.h"

namespace {

constexpr size_t kProgram = 64;

struct Built {
  std::vector<unsigned char> file;
  PayloadTable table;
};

Built Build(const std::vector<PayloadFile>& files) {
  Built built;
  built.file = BuildUpdater(kProgram, files);
  MemoryByteSource source(built.file.data(), built.file.size());
  PatchTrailer trailer;
  uint32_t got = 0;
  EXPECT_TRUE(ReadTrailer(source, &trailer, &got));
  built.table = ReadPayloadTable(source, trailer);
  EXPECT_EQ(built.table.error, PayloadError::None);
  return built;
}

EntryDetails Read(const Built& built, size_t size = SIZE_MAX) {
  MemoryByteSource source(built.file.data(), std::min(size, built.file.size()));
  return ReadEntryDetails(source, built.table.entries);
}

EntryDescriptor DeltaOf(const std::string& path) {
  EntryDescriptor delta = DescribeFile(EntryKind::PathFile, EntryCoding::Delta, "new bytes", path);
  DescribeSource(delta, "old bytes");
  return delta;
}

TEST(EntryDetails, PlainAndDescribedEntriesAreToldApartAndTheirStoredBytesLocated) {
  const EntryDescriptor delta = DeltaOf("bin\\\xB5\x5C.dll");
  const EntryDescriptor removal = DescribeRemoval("old\\gone.dat", "old");
  const Built built = Build({{"plain.dll", "plain bytes"},
                             DescribedFile("\xB5\x5C.dll", delta, "delta bytes"),
                             DescribedFile("gone.dat", removal, "")});
  const EntryDetails read = Read(built);
  ASSERT_EQ(read.error, EntryDetailError::None);
  ASSERT_EQ(read.details.size(), 3u);
  EXPECT_FALSE(read.details[0].HasDescriptor());

  const EntryDetail& file = read.details[1];
  const PayloadEntry& entry = built.table.entries[1];
  ASSERT_TRUE(file.HasDescriptor());
  EXPECT_EQ(file.descriptor.kind, EntryKind::PathFile);
  EXPECT_EQ(file.descriptor.coding, EntryCoding::Delta);
  EXPECT_EQ(file.descriptor.path, delta.path);
  EXPECT_EQ(file.descriptor.sourceSize, 9u);
  EXPECT_EQ(0, std::memcmp(file.descriptor.decodedMd5, delta.decodedMd5, ENTRY_DIGEST_SIZE));
  EXPECT_EQ(StoredBegin(entry, file), entry.dataOffset + EncodeEntryDescriptor(delta).size());
  EXPECT_EQ(StoredSize(entry, file), 11u);
  EXPECT_EQ(0, std::memcmp(built.file.data() + StoredBegin(entry, file), "delta bytes", 11));

  const EntryDetail& gone = read.details[2];
  const PayloadEntry& goneEntry = built.table.entries[2];
  ASSERT_TRUE(gone.HasDescriptor());
  EXPECT_EQ(gone.descriptor.kind, EntryKind::Removal);
  EXPECT_EQ(StoredSize(goneEntry, gone), 0u);
  EXPECT_EQ(StoredBegin(goneEntry, gone), goneEntry.dataOffset + goneEntry.size);
}

// A later format may append fields to the descriptor: its size says where
// the stored bytes begin, up to the bound, however long the entry.
TEST(EntryDetails, StoredBytesBeginWhereTheDescriptorSaysUpToItsBound) {
  const std::string stored(10000, 's');
  const EntryDescriptor file = DescribeFile(EntryKind::PlainFile, EntryCoding::Stored, stored);
  PayloadFile longer = DescribedFile("x.dll", file, stored);
  longer.descriptor.resize(ENTRY_DESCRIPTOR_MAX_SIZE, '\0');
  WriteLe32(reinterpret_cast<unsigned char*>(&longer.descriptor[0]), ENTRY_DESCRIPTOR_MAX_SIZE);
  const Built built = Build({longer});
  const EntryDetails read = Read(built);
  ASSERT_EQ(read.error, EntryDetailError::None) << DescriptorErrorText(read.descriptorError);
  EXPECT_EQ(StoredBegin(built.table.entries[0], read.details[0]),
            built.table.entries[0].dataOffset + ENTRY_DESCRIPTOR_MAX_SIZE);
  EXPECT_EQ(StoredSize(built.table.entries[0], read.details[0]), stored.size());
}

TEST(EntryDetails, MalformedDescriptorsAndUnknownMarkingsAreRefusedWithTheEntryAtFault) {
  const EntryDescriptor good = DeltaOf("a.dll");
  PayloadFile reserved = DescribedFile("b.dll", DeltaOf("b.dll"), "x");
  reserved.descriptor[50] = 1;
  EntryDetails read =
      Read(Build({{"plain.dll", "p"}, DescribedFile("a.dll", good, "x"), reserved}));
  EXPECT_EQ(read.error, EntryDetailError::BadDescriptor);
  EXPECT_EQ(read.descriptorError, DescriptorError::ReservedNotZero);
  EXPECT_EQ(read.failedEntry, 2u);
  EXPECT_TRUE(read.details.empty()) << "nothing of a refused reading is used";

  // Marked, but shorter than a descriptor's fixed part.
  PayloadFile cut = DescribedFile("c.dll", good, "");
  cut.descriptor.resize(30);
  read = Read(Build({cut}));
  EXPECT_EQ(read.error, EntryDetailError::BadDescriptor);
  EXPECT_EQ(read.descriptorError, DescriptorError::Truncated);

  // The marker with a format this reader does not know.
  Built unknown = Build({{"plain.dll", "p"}, DescribedFile("d.dll", good, "x")});
  const size_t format = unknown.table.entries[1].headerOffset + std::strlen("d.dll") + 1 +
                        ENTRY_DESCRIPTOR_MARKER_SIZE;
  ASSERT_EQ(unknown.file[format], ENTRY_DESCRIPTOR_FORMAT);
  unknown.file[format] = ENTRY_DESCRIPTOR_FORMAT_2 + 1;
  read = Read(unknown);
  EXPECT_EQ(read.error, EntryDetailError::UnknownFormat);
  EXPECT_EQ(read.failedEntry, 1u);
  // A damaged marker is no marking at all: the entry is a plain one.
  unknown.file[format - 1] ^= 0x01;
  read = Read(unknown);
  ASSERT_EQ(read.error, EntryDetailError::None);
  EXPECT_FALSE(read.details[1].HasDescriptor());
}

TEST(EntryDetails, ADescriptorThatCannotBeReadIsRefused) {
  const Built built = Build({{"plain.dll", "p"}, DescribedFile("a.dll", DeltaOf("a.dll"), "x")});
  // The file ends inside the second entry's descriptor after the table was read.
  const EntryDetails read = Read(built, built.table.entries[1].dataOffset + 20);
  EXPECT_EQ(read.error, EntryDetailError::Unreadable);
  EXPECT_EQ(read.failedEntry, 1u);
}

}  // namespace
