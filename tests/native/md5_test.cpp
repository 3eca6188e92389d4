#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "md5_hex.h"
#include "update/base/md5.h"

namespace {

// Captures what reaches the standard error stream while the object lives.
class StderrCapture {
 public:
  StderrCapture() { testing::internal::CaptureStderr(); }
  ~StderrCapture() { Text(); }
  // Everything written so far; ends the capture.
  std::string Text() {
    if (!done_) text_ = testing::internal::GetCapturedStderr();
    done_ = true;
    return text_;
  }

 private:
  bool done_ = false;
  std::string text_;
};

std::vector<unsigned char> Pattern(size_t size) {
  std::vector<unsigned char> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 131 + 7);
  return bytes;
}

std::string DigestInSplits(const std::vector<unsigned char>& bytes, size_t step) {
  MD5 md5;
  for (size_t at = 0; at < bytes.size(); at += step) {
    size_t n = std::min(step, bytes.size() - at);
    md5.update(bytes.data() + at, static_cast<uint32_t>(n));
  }
  md5.finalize();
  return md5.hex_digest();
}

}  // namespace

TEST(Md5, MatchesRfc1321Suite) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Md5Hex("1234567890123456789012345678901234567890"
                   "1234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PaddingBoundaries) {
  // Independent digests (md5sum) of 55, 56, 63, 64, 65 and 120 'a' bytes.
  EXPECT_EQ(Md5Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
  EXPECT_EQ(Md5Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
  EXPECT_EQ(Md5Hex(std::string(63, 'a')), "b06521f39153d618550606be297466d5");
  EXPECT_EQ(Md5Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
  EXPECT_EQ(Md5Hex(std::string(65, 'a')), "c743a45e0d2e6a95cb859adae0248435");
  EXPECT_EQ(Md5Hex(std::string(120, 'a')), "5f61c0ccad4cac44c75ff505e1f1e537");
}

TEST(Md5, AnySplitGivesTheSameDigest) {
  std::vector<unsigned char> bytes = Pattern(1000);
  std::string whole = DigestInSplits(bytes, bytes.size());
  for (size_t step : {1, 3, 63, 64, 65, 127, 999}) {
    EXPECT_EQ(DigestInSplits(bytes, step), whole) << "step " << step;
  }
}

TEST(Md5, HexAndRawAgree) {
  MD5 md5;
  md5.update(reinterpret_cast<const unsigned char*>("abc"), 3);
  md5.finalize();
  std::string hex = md5.hex_digest();
  std::string raw = md5.raw_digest();
  ASSERT_EQ(hex.size(), 32u);
  ASSERT_EQ(raw.size(), 16u);
  EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos);
  char pair[3];
  for (int i = 0; i < 16; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(raw[i]));
    EXPECT_EQ(hex.substr(i * 2, 2), pair);
  }
  std::ostringstream out;
  out << md5;
  EXPECT_EQ(out.str(), hex);
}

TEST(Md5, FileConstructorReadsAllAndClosesTheFile) {
  std::vector<unsigned char> bytes = Pattern(5000);  // several 1024-byte reads
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
  std::rewind(file);
  MD5 fromFile(file);
  // The object closed `file`; touching it again would be an error.
  EXPECT_EQ(fromFile.hex_digest(), DigestInSplits(bytes, bytes.size()));

  FILE* empty = std::tmpfile();
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(MD5(empty).hex_digest(), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5, OpenForDigestReadsAheadThroughTheCallersBuffer) {
  // Longer than the read-ahead, and not a whole number of reads or blocks.
  std::vector<unsigned char> bytes = Pattern(3 * kDigestReadAhead + 777);
  const char* path = "md5_read_ahead_test.bin";
  FILE* out = std::fopen(path, "wb");
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
  ASSERT_EQ(std::fclose(out), 0);

  DigestReadAhead readAhead;
  FILE* file = OpenForDigest(path, readAhead);
  ASSERT_NE(file, nullptr);
  EXPECT_NE(readAhead.bytes, nullptr);
  EXPECT_EQ(MD5(file).hex_digest(), DigestInSplits(bytes, bytes.size()));
  std::remove(path);

  DigestReadAhead unused;
  EXPECT_EQ(OpenForDigest("no_such_file_for_md5.bin", unused), nullptr);
  EXPECT_EQ(unused.bytes, nullptr) << "nothing is allocated for a file that is not there";
}

TEST(Md5, StreamConstructorFeedsPartialLastRead) {
  std::vector<unsigned char> bytes = Pattern(2500);
  std::istringstream stream(std::string(bytes.begin(), bytes.end()));
  EXPECT_EQ(MD5(stream).hex_digest(), DigestInSplits(bytes, 1));
}

TEST(Md5, MisuseWritesOneLineAndChangesNothing) {
  MD5 open;
  {
    StderrCapture capture;
    EXPECT_EQ(open.hex_digest(), "");
    EXPECT_EQ(capture.Text(),
              "MD5::hex_digest:  Can't get digest if you haven't finalized the digest!\n");
  }
  {
    StderrCapture capture;
    EXPECT_EQ(open.raw_digest(), "");
    EXPECT_EQ(capture.Text(),
              "MD5::raw_digest:  Can't get digest if you haven't finalized the digest!\n");
  }
  open.update(reinterpret_cast<const unsigned char*>("abc"), 3);
  open.finalize();
  {
    StderrCapture capture;
    open.update(reinterpret_cast<const unsigned char*>("more"), 4);
    EXPECT_EQ(capture.Text(), "MD5::update:  Can't update a finalized digest!\n");
  }
  {
    StderrCapture capture;
    open.finalize();
    EXPECT_EQ(capture.Text(), "MD5::finalize:  Already finalized this digest!\n");
  }
  EXPECT_EQ(open.hex_digest(), "900150983cd24fb0d6963f7d28e17f72");
}
