// The run's reading of every entry before its first write: plain entries as
// they always were, described ones with their descriptors and stored bytes
// located, and anything malformed refused with the entry at fault.
#include "update/format/run_entries.h"

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

RunEntries Read(const Built& built, size_t size = SIZE_MAX) {
  MemoryByteSource source(built.file.data(), std::min(size, built.file.size()));
  return ReadRunEntries(source, built.table.entries);
}

EntryDescriptor DeltaOf(const std::string& path) {
  EntryDescriptor delta = DescribeFile(EntryKind::PathFile, EntryCoding::Delta, "new bytes", path);
  DescribeSource(delta, "old bytes");
  return delta;
}

TEST(RunEntries, PlainAndDescribedEntriesAreToldApartAndTheirStoredBytesLocated) {
  const EntryDescriptor delta = DeltaOf("bin\\\xB5\x5C.dll");
  const EntryDescriptor removal = DescribeRemoval("old\\gone.dat", "old");
  const Built built = Build({{"plain.dll", "plain bytes"},
                             DescribedFile("\xB5\x5C.dll", delta, "delta bytes"),
                             DescribedFile("gone.dat", removal, "")});
  const RunEntries read = Read(built);
  ASSERT_EQ(read.error, RunEntryError::None);
  ASSERT_EQ(read.entries.size(), 3u);
  EXPECT_FALSE(read.entries[0].described);

  const RunEntry& file = read.entries[1];
  ASSERT_TRUE(file.described);
  EXPECT_EQ(file.descriptor.kind, EntryKind::PathFile);
  EXPECT_EQ(file.descriptor.coding, EntryCoding::Delta);
  EXPECT_EQ(file.descriptor.path, delta.path);
  EXPECT_EQ(file.descriptor.sourceSize, 9u);
  EXPECT_EQ(0, std::memcmp(file.descriptor.decodedMd5, delta.decodedMd5, ENTRY_DIGEST_SIZE));
  const PayloadEntry& entry = built.table.entries[1];
  EXPECT_EQ(file.storedBegin, entry.dataOffset + EncodeEntryDescriptor(delta).size());
  EXPECT_EQ(file.storedSize, 11u);
  EXPECT_EQ(0, std::memcmp(built.file.data() + file.storedBegin, "delta bytes", 11));

  const RunEntry& gone = read.entries[2];
  ASSERT_TRUE(gone.described);
  EXPECT_EQ(gone.descriptor.kind, EntryKind::Removal);
  EXPECT_EQ(gone.storedSize, 0u);
  EXPECT_EQ(gone.storedBegin, built.table.entries[2].dataOffset + built.table.entries[2].size);
}

// A later format may append fields to the descriptor: its size says where
// the stored bytes begin, up to the bound, however long the entry.
TEST(RunEntries, StoredBytesBeginWhereTheDescriptorSaysUpToItsBound) {
  const std::string stored(10000, 's');
  const EntryDescriptor file = DescribeFile(EntryKind::PlainFile, EntryCoding::Stored, stored);
  PayloadFile longer = DescribedFile("x.dll", file, stored);
  longer.descriptor.resize(ENTRY_DESCRIPTOR_MAX_SIZE, '\0');
  WriteLe32(reinterpret_cast<unsigned char*>(&longer.descriptor[0]), ENTRY_DESCRIPTOR_MAX_SIZE);
  const Built built = Build({longer});
  const RunEntries read = Read(built);
  ASSERT_EQ(read.error, RunEntryError::None) << DescriptorErrorText(read.descriptorError);
  EXPECT_EQ(read.entries[0].storedBegin,
            built.table.entries[0].dataOffset + ENTRY_DESCRIPTOR_MAX_SIZE);
  EXPECT_EQ(read.entries[0].storedSize, stored.size());
}

TEST(RunEntries, MalformedDescriptorsAndUnknownMarkingsAreRefusedWithTheEntryAtFault) {
  const EntryDescriptor good = DeltaOf("a.dll");
  PayloadFile reserved = DescribedFile("b.dll", DeltaOf("b.dll"), "x");
  reserved.descriptor[50] = 1;
  RunEntries read = Read(Build({{"plain.dll", "p"}, DescribedFile("a.dll", good, "x"), reserved}));
  EXPECT_EQ(read.error, RunEntryError::BadDescriptor);
  EXPECT_EQ(read.descriptorError, DescriptorError::ReservedNotZero);
  EXPECT_EQ(read.failedEntry, 2u);
  EXPECT_TRUE(read.entries.empty()) << "nothing of a refused reading is used";

  // Marked, but shorter than a descriptor's fixed part.
  PayloadFile cut = DescribedFile("c.dll", good, "");
  cut.descriptor.resize(30);
  read = Read(Build({cut}));
  EXPECT_EQ(read.error, RunEntryError::BadDescriptor);
  EXPECT_EQ(read.descriptorError, DescriptorError::Truncated);

  // The marker with a format this reader does not know.
  Built unknown = Build({{"plain.dll", "p"}, DescribedFile("d.dll", good, "x")});
  const size_t format = unknown.table.entries[1].headerOffset + std::strlen("d.dll") + 1 +
                        ENTRY_DESCRIPTOR_MARKER_SIZE;
  ASSERT_EQ(unknown.file[format], ENTRY_DESCRIPTOR_FORMAT);
  unknown.file[format] = ENTRY_DESCRIPTOR_FORMAT + 1;
  read = Read(unknown);
  EXPECT_EQ(read.error, RunEntryError::UnknownFormat);
  EXPECT_EQ(read.failedEntry, 1u);
  // A damaged marker is no marking at all: the entry is a plain one.
  unknown.file[format - 1] ^= 0x01;
  read = Read(unknown);
  ASSERT_EQ(read.error, RunEntryError::None);
  EXPECT_FALSE(read.entries[1].described);
}

TEST(RunEntries, ADescriptorThatCannotBeReadIsRefused) {
  const Built built = Build({{"plain.dll", "p"}, DescribedFile("a.dll", DeltaOf("a.dll"), "x")});
  // The file ends inside the second entry's descriptor after the table was read.
  const RunEntries read = Read(built, built.table.entries[1].dataOffset + 20);
  EXPECT_EQ(read.error, RunEntryError::Unreadable);
  EXPECT_EQ(read.failedEntry, 1u);
}

}  // namespace
