#include "described_run.h"

#include "update/format/entry_detail.h"
#include "update/format/payload_table.h"

void DescribedRunTest::Put(const std::string& path, const std::string& bytes) {
  const size_t separator = path.find_last_of('\\');
  if (separator != std::string::npos) MakeDirectoryTree(Game(path.substr(0, separator)));
  ASSERT_TRUE(WriteWholeFile(Game(path), bytes)) << path;
}

int DescribedRunTest::Run(RunChecks* checks) {
  *checks = RunChecks();
  return g_UpdateSession.ApplyPatch(*checks);
}

std::vector<std::string> DescribedRunTest::ReplacementCopies() const {
  std::vector<std::string> copies;
  for (const auto& item : TreeContents(gameDir_)) {
    const std::string& path = item.first;
    if (path.size() >= 8 && path.compare(path.size() - 8, 8, ".upd-new") == 0) {
      copies.push_back(path);
    }
  }
  return copies;
}

DescribedRunTest::Stored DescribedRunTest::StoredBytes(const Bytes& file, size_t index) {
  MemoryByteSource source(file.data(), file.size());
  PatchTrailer trailer;
  uint32_t got = 0;
  EXPECT_TRUE(ReadTrailer(source, &trailer, &got));
  const PayloadTable table = ReadPayloadTable(source, trailer);
  const EntryDetails read = ReadEntryDetails(source, table.entries);
  EXPECT_EQ(read.error, EntryDetailError::None);
  const EntryDetail& detail = read.details.at(index);
  const PayloadEntry& entry = table.entries.at(index);
  EXPECT_TRUE(detail.HasDescriptor());
  return Stored{static_cast<size_t>(StoredBegin(entry, detail)),
                static_cast<size_t>(StoredSize(entry, detail))};
}

std::string DescribedRunTest::Shown(const std::string& whole) { return whole.substr(0, 99); }
