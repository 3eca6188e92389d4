// The payload digest in the update run: a damaged entry region is refused
// before the first byte is written; files without the record run as before.
#include <cstring>

#include "engine_test_support.h"
#include "failing_source.h"
#include "md5_hex.h"
#include "update/format/payload_digest.h"
#include "update/session/read_patch.h"

namespace {

using PayloadDigestCheckTest = EngineTest;

// Two plain entries with the record, as mkpatch builds them.
class DigestRun : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    first_ = Unique("first.dll");
    last_ = Unique("last.dll");
    file_ = BuildUpdater(64, {{first_, Pattern(5000, 1)}, {last_, Pattern(300, 2)}});
    ASSERT_TRUE(AddDigestRecord(file_));
  }
  size_t FirstData() const { return 64 + PATCH_ENTRY_HEADER_SIZE; }
  size_t LastSizeField() const { return FirstData() + 5000 + PATCH_NAME_FIELD_SIZE; }
  size_t LastByte() const { return file_.size() - PATCH_TRAILER_SIZE - 1; }
  int RegionLength() const { return static_cast<int>(file_.size() - PATCH_TRAILER_SIZE - 64); }

  // Refused with `text` shown once and logged once; nothing extracted or installed.
  void ExpectRefusedUntouched(const std::string& text, const char* label) {
    UseUpdater(file_);
    warnings_.clear();
    progress_.clear();
    // Left by an earlier run of this program: the temporary directory is shared.
    for (const std::string& name : {first_, last_}) DeleteFileA((TempDir() + name).c_str());
    const int logged = LogCount(text);
    bool versionOk = true;
    EXPECT_EQ(0, Apply(&versionOk)) << label;
    EXPECT_TRUE(versionOk) << label << ": the worker then shows its general message";
    EXPECT_EQ(std::vector<std::string>{text}, warnings_) << label;
    EXPECT_EQ(logged + 1, LogCount(text)) << label;
    EXPECT_TRUE(progress_.empty()) << label;
    for (const std::string& name : {first_, last_}) {
      EXPECT_FALSE(FileExists(TempDir() + name)) << label;
      EXPECT_FALSE(FileExists(gameDir_ + "\\" + name)) << label;
    }
    EXPECT_EQ("1.4.1.34000", IniValue(gameDir_ + "\\Config\\Client.ini", "Version", "GameVersion"));
  }

  std::string first_, last_;
  Bytes file_;
};

std::string DigestText(int hashed, int length) {
  return "错误的文件校验:参数 " + std::to_string(hashed) + " " + std::to_string(length);
}

TEST_F(DigestRun, DamagedEntriesAreRefusedBeforeAnythingIsWritten) {
  const Bytes sound = file_;
  const std::string text = DigestText(RegionLength(), RegionLength());
  file_[FirstData()] ^= 0x01;
  ExpectRefusedUntouched(text, "first entry's first byte");
  file_ = sound;
  file_[LastByte()] ^= 0x80;
  ExpectRefusedUntouched(text, "last entry's last byte");

  // A size field one lower still makes a sound table; only the digest sees it.
  file_ = sound;
  ASSERT_EQ(44, file_[LastSizeField()]);
  file_[LastSizeField()] = 43;
  ExpectRefusedUntouched(text, "size field lower");
  // One higher reaches into the trailer: the table check refuses first.
  file_[LastSizeField()] = 45;
  const int secondHeader = static_cast<int>(FirstData() + 5000);
  char tableText[100];
  std::snprintf(tableText, sizeof tableText, "错误的文件数据:参数 2 %d %d", secondHeader,
                static_cast<int>(file_.size()));
  ExpectRefusedUntouched(tableText, "size field higher");
}

// Damage to the entries changes every byte of their digest; a recorded
// digest can also be wrong in a few bytes only, anywhere in its 16.
TEST_F(DigestRun, RecordWrongInAnyOneByteIsRefused) {
  const Bytes sound = file_;
  const std::string text = DigestText(RegionLength(), RegionLength());
  const size_t recorded = file_.size() - PATCH_TRAILER_SIZE + 76 + std::strlen("1.4.1.34242") + 1 +
                          PAYLOAD_DIGEST_MARKER_SIZE + 1;
  for (size_t byte : {size_t(0), size_t(7), size_t(8), PAYLOAD_DIGEST_SIZE - 1}) {
    file_ = sound;
    file_[recorded + byte] ^= 0x04;
    ExpectRefusedUntouched(text, ("recorded digest byte " + std::to_string(byte)).c_str());
  }
}

TEST_F(DigestRun, SoundRecordRunsAndInstalls) {
  UseUpdater(file_);
  bool versionOk = true;
  ASSERT_EQ(1, Apply(&versionOk)) << (warnings_.empty() ? "" : warnings_[0]);
  EXPECT_TRUE(warnings_.empty());
  EXPECT_EQ(Pattern(5000, 1), ReadWholeFile(gameDir_ + "\\" + first_));
  EXPECT_EQ(Pattern(300, 2), ReadWholeFile(gameDir_ + "\\" + last_));
  EXPECT_EQ((ProgressEvent{PG_EXTRACT_BEGIN, 1, 2}), progress_.at(0)) << "no new progress codes";
}

TEST_F(PayloadDigestCheckTest, WithoutAUsableRecordTheRunGoesOnAsBefore) {
  const std::string name = Unique("plain.dll"), data = Pattern(700, 3);
  const Bytes plain = BuildUpdater(64, {{name, data}});
  Bytes withRecord = plain;
  ASSERT_TRUE(AddDigestRecord(withRecord));
  const size_t target = plain.size() - PATCH_TRAILER_SIZE + 76;
  const size_t base = plain.size() - PATCH_TRAILER_SIZE + 16;

  // The record in the base version's field only; part of the marker after
  // the target's NUL; and no record at all. The data is damaged each time,
  // so a digest that was wrongly taken would refuse the run.
  Bytes inBase = plain;
  std::memcpy(&inBase[base + 12], &withRecord[target + 12], PAYLOAD_DIGEST_RECORD_SIZE);
  Bytes partial = withRecord;
  partial[target + 12 + 7] ^= 0xFF;
  for (const Bytes* file : std::vector<const Bytes*>{&inBase, &partial, &plain}) {
    Bytes damaged = *file;
    damaged[64 + PATCH_ENTRY_HEADER_SIZE] ^= 0x01;
    UseUpdater(damaged);
    warnings_.clear();
    bool versionOk = true;
    EXPECT_EQ(1, Apply(&versionOk)) << (warnings_.empty() ? "" : warnings_[0]);
    EXPECT_TRUE(warnings_.empty());
    std::string expected = data;
    expected[0] ^= 0x01;
    EXPECT_EQ(expected, ReadWholeFile(gameDir_ + "\\" + name));
  }
}

// The whole file's MD5 names this patch's commit in the journal: an
// updater whose file cannot be read to its end is refused before anything
// is written, though its payload could be read and, where recorded, was
// found sound; as one that cannot be opened, the general message says why.
TEST_F(PayloadDigestCheckTest, AnOwnFileThatCannotBeReadWholeFailsTheRun) {
  const Bytes plain = BuildUpdater(64, {{Unique("a.dll"), Pattern(700, 5)}});
  Bytes withRecord = plain;
  ASSERT_TRUE(AddDigestRecord(withRecord));
  for (const Bytes* file : std::vector<const Bytes*>{&plain, &withRecord}) {
    MemoryByteSource payload(file->data(), file->size());
    PatchTrailer trailer;
    uint32_t got = 0;
    ASSERT_TRUE(ReadTrailer(payload, &trailer, &got));
    RunFailure failure;
    EXPECT_EQ(Md5Hex(std::string(file->begin(), file->end())),
              DigestOwnFile(payload, payload, trailer, failure));
    EXPECT_FALSE(failure.Failed());

    // The first bytes, before the payload, cannot be read.
    FailingSource whole(file->data(), file->size(), 10);
    EXPECT_EQ("", DigestOwnFile(payload, whole, trailer, failure));
    EXPECT_TRUE(failure.Failed());
    EXPECT_STREQ("", failure.text);
  }
}

}  // namespace
