#include "described_run.h"

#include "update/format/payload_table.h"
#include "update/format/run_entries.h"

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
  const RunEntries entries = ReadRunEntries(source, table.entries);
  EXPECT_EQ(entries.error, RunEntryError::None);
  const RunEntry& entry = entries.entries.at(index);
  EXPECT_TRUE(entry.described);
  return Stored{static_cast<size_t>(entry.storedBegin), static_cast<size_t>(entry.storedSize)};
}

std::string DescribedRunTest::Shown(const std::string& whole) { return whole.substr(0, 99); }
