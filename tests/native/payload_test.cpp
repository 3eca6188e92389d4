#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "payload_builder.h"
#include "update/format/payload_table.h"

namespace {

PayloadTable TableOf(const std::vector<unsigned char>& file) {
  MemoryByteSource source(file.data(), file.size());
  PatchTrailer trailer;
  uint32_t got = 0;
  EXPECT_TRUE(ReadTrailer(source, &trailer, &got));
  return ReadPayloadTable(source, trailer);
}

// A large file that is all zeros except for the regions written into it;
// stands in for a shipped updater without holding 22 MB.
class SparseSource : public ByteSource {
 public:
  explicit SparseSource(uint64_t size) : size_(size) {}
  void Put(uint64_t offset, const unsigned char* bytes, size_t length) {
    regions_.push_back({offset, std::vector<unsigned char>(bytes, bytes + length)});
  }
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) override {
    uint64_t end = std::min<uint64_t>(size_, offset + length);
    uint32_t count = offset < end ? static_cast<uint32_t>(end - offset) : 0;
    unsigned char* out = static_cast<unsigned char*>(buffer);
    std::memset(out, 0, count);
    for (const auto& region : regions_) {
      for (size_t i = 0; i < region.second.size(); ++i) {
        uint64_t at = region.first + i;
        if (at >= offset && at < offset + count) out[at - offset] = region.second[i];
      }
    }
    *bytesRead = count;
    return true;
  }

 private:
  uint64_t size_;
  std::vector<std::pair<uint64_t, std::vector<unsigned char>>> regions_;
};

}  // namespace

TEST(PayloadLayout, TrailerBytesAreLittleEndianWhateverTheHost) {
  PatchTrailer trailer = MakeTrailer(0x04030201u, 2, 0x0A0B0C0Du, "1.2.3.4", "5.6.7.8");
  unsigned char bytes[PATCH_TRAILER_SIZE];
  EncodeTrailer(trailer, bytes);
  const unsigned char head[] = {0x59, 0x43, 0x53, 0x1E, 1,    2,    3,    4,
                                2,    0,    0,    0,    0x0D, 0x0C, 0x0B, 0x0A};
  EXPECT_EQ(0, std::memcmp(bytes, head, sizeof head));
  EXPECT_STREQ(reinterpret_cast<const char*>(bytes + 16), "1.2.3.4");
  EXPECT_STREQ(reinterpret_cast<const char*>(bytes + 76), "5.6.7.8");

  PatchTrailer back = DecodeTrailer(bytes);
  EXPECT_EQ(back.magic, PATCH_TRAILER_MAGIC);
  EXPECT_EQ(back.firstEntryOffset, 0x04030201u);
  EXPECT_EQ(back.entryCount, 2u);
  EXPECT_EQ(back.totalFileSize, 0x0A0B0C0Du);
  EXPECT_EQ(0, std::memcmp(back.baseVersion, trailer.baseVersion, PATCH_VERSION_FIELD_SIZE));
}

TEST(PayloadLayout, EntryHeaderSizeSitsAtByte80) {
  PatchEntryHeader header;
  PutText(header.name, sizeof header.name, "data\\x.dll");
  header.size = 0x11223344u;
  unsigned char bytes[PATCH_ENTRY_HEADER_SIZE];
  EncodeEntryHeader(header, bytes);
  EXPECT_EQ(bytes[80], 0x44);
  EXPECT_EQ(bytes[83], 0x11);
  PatchEntryHeader back = DecodeEntryHeader(bytes);
  EXPECT_EQ(back.size, 0x11223344u);
  EXPECT_EQ(EntryExtractName(back), "data\\x.dll");
}

TEST(PayloadLayout, FieldTextStopsAtNulOrFieldEnd) {
  char field[PATCH_VERSION_FIELD_SIZE];
  std::memset(field, 'x', sizeof field);
  std::memcpy(field, "1.2.3.4\0garbage", 15);
  EXPECT_EQ(FieldText(field, sizeof field), "1.2.3.4");
  std::memset(field, '7', sizeof field);
  EXPECT_EQ(FieldText(field, sizeof field), std::string(60, '7'));
}

TEST(PayloadLayout, EmptyNameIsExtractedAsToplevelPackage) {
  PatchEntryHeader header;
  std::memset(header.name, 0, sizeof header.name);
  header.name[1] = 'z';  // bytes after the first NUL mean nothing
  EXPECT_EQ(EntryExtractName(header), "toplevel.tpk");
}

TEST(PayloadTrailer, SoundOnlyWithMagicAndExactSize) {
  PatchTrailer trailer = MakeTrailer(0, 0, 1000);
  EXPECT_TRUE(IsTrailerSound(trailer, 1000));
  EXPECT_FALSE(IsTrailerSound(trailer, 999));
  EXPECT_FALSE(IsTrailerSound(trailer, 1001));
  EXPECT_FALSE(IsTrailerSound(trailer, 1000 + (uint64_t(1) << 32)));
  trailer.magic ^= 1;
  EXPECT_FALSE(IsTrailerSound(trailer, 1000));
}

TEST(PayloadTrailer, ProgramWithoutPayloadIsRefused) {
  std::vector<unsigned char> program(4096, 0x90);
  MemoryByteSource source(program.data(), program.size());
  PatchTrailer trailer;
  uint32_t got = 0;
  ASSERT_TRUE(ReadTrailer(source, &trailer, &got));
  EXPECT_FALSE(IsTrailerSound(trailer, program.size()));

  MemoryByteSource tiny(program.data(), 135);
  EXPECT_FALSE(ReadTrailer(tiny, &trailer, &got));
  EXPECT_EQ(ReadPayloadTable(tiny, trailer).error, PayloadError::FileTooShort);
}

TEST(PayloadTable, ShippedExampleReadsOneToplevelEntry) {
  const uint64_t fileSize = 22738402;
  SparseSource source(fileSize);
  unsigned char header[PATCH_ENTRY_HEADER_SIZE] = {};
  WriteLe32(header + 80, 21477662);
  source.Put(1260520, header, sizeof header);
  unsigned char trailerBytes[PATCH_TRAILER_SIZE];
  EncodeTrailer(MakeTrailer(1260520, 1, 22738402), trailerBytes);
  source.Put(fileSize - PATCH_TRAILER_SIZE, trailerBytes, sizeof trailerBytes);

  PatchTrailer trailer;
  uint32_t got = 0;
  ASSERT_TRUE(ReadTrailer(source, &trailer, &got));
  EXPECT_TRUE(IsTrailerSound(trailer, fileSize));
  PayloadTable table = ReadPayloadTable(source, trailer);
  ASSERT_EQ(table.error, PayloadError::None);
  ASSERT_EQ(table.entries.size(), 1u);
  EXPECT_EQ(table.entries[0].name, "toplevel.tpk");
  EXPECT_EQ(table.entries[0].size, 21477662u);
  EXPECT_EQ(table.entries[0].dataOffset, 1260604u);
  EXPECT_EQ(table.entriesEnd, 22738266u);  // where the trailer begins
}

TEST(PayloadTable, EntriesLieBackToBack) {
  std::vector<unsigned char> file =
      BuildUpdater(100, {{"a.dll", "12345"}, {"data/x.dll", ""}, {"", "pkg"}});
  PayloadTable table = TableOf(file);
  ASSERT_EQ(table.error, PayloadError::None);
  ASSERT_EQ(table.entries.size(), 3u);
  EXPECT_EQ(table.entries[0].headerOffset, 100u);
  EXPECT_EQ(table.entries[1].headerOffset, 100u + 84 + 5);
  EXPECT_EQ(table.entries[1].size, 0u);
  EXPECT_EQ(table.entries[2].name, "toplevel.tpk");
  EXPECT_EQ(table.entries[2].dataOffset, 100u + 84 + 5 + 84 + 84);
  EXPECT_EQ(table.entriesEnd, file.size() - PATCH_TRAILER_SIZE);
}

TEST(PayloadTable, ZeroEntriesIsAccepted) {
  std::vector<unsigned char> file = BuildUpdater(10, {});
  PayloadTable table = TableOf(file);
  EXPECT_EQ(table.error, PayloadError::None);
  EXPECT_TRUE(table.entries.empty());
}

TEST(PayloadTable, RefusesDataRunningIntoTrailerOrPastTheEnd) {
  std::vector<unsigned char> file = BuildUpdater(10, {{"a.bin", "abcd"}});
  WriteLe32(&file[10 + 80], 5);  // one byte into the trailer
  PayloadTable table = TableOf(file);
  EXPECT_EQ(table.error, PayloadError::OverlapsTrailer);
  EXPECT_TRUE(table.entries.empty());

  WriteLe32(&file[10 + 80], 4 + PATCH_TRAILER_SIZE + 1);  // one byte past the end
  EXPECT_EQ(TableOf(file).error, PayloadError::DataPastEnd);

  WriteLe32(&file[10 + 80], 0xFFFFFFFFu);  // would wrap a 32-bit position
  EXPECT_EQ(TableOf(file).error, PayloadError::DataPastEnd);
}

TEST(PayloadTable, RefusesAnEntryCountThatCannotFit) {
  std::vector<unsigned char> file = BuildUpdater(10, {{"a.bin", ""}});
  size_t countAt = file.size() - PATCH_TRAILER_SIZE + 8;
  WriteLe32(&file[countAt], 2);  // a second header would overlap the trailer
  EXPECT_EQ(TableOf(file).error, PayloadError::EntryCountImpossible);
  WriteLe32(&file[countAt], 0xFFFFFFFFu);  // must not try to reserve 4 billion entries
  EXPECT_EQ(TableOf(file).error, PayloadError::EntryCountImpossible);

  WriteLe32(&file[countAt], 1);
  WriteLe32(&file[countAt - 4], static_cast<uint32_t>(file.size()));  // first entry beyond trailer
  EXPECT_EQ(TableOf(file).error, PayloadError::EntryCountImpossible);
}

TEST(PayloadTable, SecondHeaderIntoTrailerIsCaught) {
  // Two entries announced; the first one's data pushes the second header into
  // the trailer even though two bare headers would fit.
  std::vector<unsigned char> file = BuildUpdater(10, {{"a.bin", std::string(100, 'd')}, {"b", ""}});
  WriteLe32(&file[10 + 80], 150);
  PayloadTable table = TableOf(file);
  EXPECT_EQ(table.error, PayloadError::OverlapsTrailer);
  EXPECT_EQ(table.failedEntry, 1u);
}

TEST(PayloadTable, RefusesUnsafeAndUnterminatedNames) {
  std::vector<unsigned char> file = BuildUpdater(10, {{"ok.dll", "1"}, {"..\\evil.dll", "2"}});
  PayloadTable table = TableOf(file);
  EXPECT_EQ(table.error, PayloadError::UnsafeName);
  EXPECT_EQ(table.failedEntry, 1u);
  ASSERT_EQ(table.entries.size(), 1u);  // what came before the fault

  file = BuildUpdater(10, {{"x", "1"}});
  std::memset(&file[10], 'n', PATCH_NAME_FIELD_SIZE);
  EXPECT_EQ(TableOf(file).error, PayloadError::NameNotTerminated);

  // A count the file could hold, with a damaged first header: nothing is set
  // aside for entries that were never read (a 32-bit process near 2 GiB
  // could not have it, and would end without the table's failure text).
  file.insert(file.end() - PATCH_TRAILER_SIZE, 84 * 20000, 0);
  WriteLe32(&file[file.size() - PATCH_TRAILER_SIZE + 8], 20000);
  table = TableOf(file);
  EXPECT_EQ(table.error, PayloadError::NameNotTerminated);
  EXPECT_LT(table.entries.capacity(), 20000u);
}

TEST(PayloadTable, ShortHeaderReportsBytesRead) {
  // A source whose reads come up short, like a file truncated under the reader.
  class ShortSource : public MemoryByteSource {
   public:
    using MemoryByteSource::MemoryByteSource;
    bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) override {
      bool ok = MemoryByteSource::ReadAt(offset, buffer, length, bytesRead);
      if (length == PATCH_ENTRY_HEADER_SIZE) *bytesRead = 40;
      return ok;
    }
  };
  std::vector<unsigned char> file = BuildUpdater(10, {{"a", "1"}});
  ShortSource source(file.data(), file.size());
  PatchTrailer trailer;
  uint32_t got = 0;
  ASSERT_TRUE(ReadTrailer(source, &trailer, &got));
  PayloadTable table = ReadPayloadTable(source, trailer);
  EXPECT_EQ(table.error, PayloadError::HeaderUnreadable);
  EXPECT_EQ(table.bytesRead, 40u);
}
