// zstd, liblzma and the suffix sorter as this build gets them: every build
// compiles the same Debian sources, the host's for speed and 32-bit
// Windows's for size. mkpatch and mkpatch.exe must write the same bytes, so
// both builds' compressors must give the same frames: the digests below were
// taken from the native build, and the Windows build is held to them. When
// newer sources change them, take the new ones from the native run; both
// builds must agree.
#define ZSTD_STATIC_LINKING_ONLY
#include <divsufsort.h>
#include <gtest/gtest.h>
#include <zstd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "md5_hex.h"
#include "mkpatch/codec/lzma_encode.h"
#include "update/base/byte_source.h"
#include "update/codec/entry_codec.h"
#include "update/codec/lzma_stream.h"

namespace {

// About 1 MiB of everything a patch holds: text, tables of numbers, noise,
// and stretches repeated from near and far back. The same on every platform.
std::string MixedInput() {
  uint32_t state = 20240601;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  const char* words[] = {"game",     "update",  "patch", "file ",    "version", "\r\n",  "the ",
                         "launcher", "package", "=",     "[Config]", "0x",      "data/", ".tpk"};
  std::string out;
  while (out.size() < (1u << 20)) {
    switch (next() % 4) {
      case 0:  // text
        for (int i = 0; i < 200; ++i) out += words[next() % (sizeof(words) / sizeof(words[0]))];
        break;
      case 1:  // a table of slowly growing numbers
        for (uint32_t i = 0, value = next(); i < 512; ++i, value += next() % 64) {
          out.append(reinterpret_cast<const char*>(&value), 4);
        }
        break;
      case 2:  // noise
        for (int i = 0; i < 1500; ++i) out += static_cast<char>(next());
        break;
      default:  // a stretch seen before, up to the whole input back
        if (out.size() > 8192) {
          const size_t length = 1024 + next() % 6144;
          const size_t from = next() % (out.size() - length);
          out += out.substr(from, length);
        }
        break;
    }
  }
  return out;
}

// mkpatch's parameters: one thread, the level's window for the input's size
// but at most 16 MiB, no checksum (the payload has its own), the size recorded.
std::string Compress(const std::string& input, int level) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  const unsigned windowLog = std::min(ZSTD_getCParams(level, input.size(), 0).windowLog, 24u);
  ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level);
  ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, static_cast<int>(windowLog));
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 0);
  ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, 1);
  ZSTD_CCtx_setParameter(context, ZSTD_c_nbWorkers, 0);
  std::string frame(ZSTD_compressBound(input.size()), '\0');
  const size_t size = ZSTD_compress2(context, &frame[0], frame.size(), input.data(), input.size());
  ZSTD_freeCCtx(context);
  if (ZSTD_isError(size)) return std::string();
  frame.resize(size);
  return frame;
}

// Streamed through small buffers, as the updater decodes entries. False
// unless the frame decodes completely and without error.
bool Decompress(const std::string& frame, std::string& out) {
  ZSTD_DCtx* context = ZSTD_createDCtx();
  char buffer[4096];
  size_t pending = 1;  // nonzero while the frame is not complete
  ZSTD_inBuffer in = {frame.data(), 0, 0};
  while (pending != 0 && !ZSTD_isError(pending)) {
    const size_t before = in.pos + out.size();
    in.size = std::min<size_t>(frame.size(), in.pos + 1000);
    ZSTD_outBuffer chunk = {buffer, sizeof(buffer), 0};
    pending = ZSTD_decompressStream(context, &chunk, &in);
    out.append(buffer, chunk.pos);
    if (in.pos + out.size() == before) break;  // no input taken, no output made
  }
  ZSTD_freeDCtx(context);
  return pending == 0 && in.pos == frame.size();
}

struct Expected {
  int level;
  size_t frameSize;
  const char* frameMd5;
};

TEST(Zstd, FramesMatchTheNativeLibraryAndDecodeBack) {
  const std::string input = MixedInput();
  ASSERT_EQ(Md5Hex(input), "116bcd5cb60d173635069c5db8723df7");
  const Expected levels[] = {{19, 192265, "206a0ff0f50453d9db0a64f44266e9a4"},
                             {22, 192163, "26c2c069e896e84ee54d0077e3682d2c"}};
  for (const Expected& want : levels) {
    const std::string frame = Compress(input, want.level);
    ASSERT_FALSE(frame.empty()) << "level " << want.level;
    EXPECT_EQ(frame.size(), want.frameSize) << "level " << want.level;
    EXPECT_EQ(Md5Hex(frame), want.frameMd5) << "level " << want.level;
    EXPECT_EQ(ZSTD_getFrameContentSize(frame.data(), frame.size()), input.size());
    std::string decoded;
    EXPECT_TRUE(Decompress(frame, decoded)) << "level " << want.level;
    EXPECT_TRUE(decoded == input) << "level " << want.level;
  }
}

class StringSink : public DecodeSink {
 public:
  bool Write(const unsigned char* data, uint32_t length) override {
    out.append(reinterpret_cast<const char*>(data), length);
    return true;
  }
  std::string out;
};

TEST(Lzma, StreamsMatchTheNativeBuildAndDecodeBack) {
  const std::string input = MixedInput().substr(0, 1 << 18);
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(input.data());
  const struct {
    uint8_t conversion;
    size_t size;
    const char* md5;
  } conversions[] = {{LZMA_CONVERSION_NONE, 51478, "93353bbbca029171fdfe89cf70913d1e"},
                     {LZMA_CONVERSION_X86, 51533, "bf5db1b6b3459707374a8d19cb3060a2"},
                     {LZMA_CONVERSION_ARM64, 54342, "c5b92b209a553783d685cd2641416ec1"}};
  for (const auto& want : conversions) {
    const std::vector<unsigned char> stored = CompressLzma(bytes, input.size(), want.conversion);
    const std::string text(stored.begin(), stored.end());
    EXPECT_EQ(stored.size(), want.size) << int(want.conversion);
    EXPECT_EQ(Md5Hex(text), want.md5) << int(want.conversion);
    MemoryByteSource source(stored.data(), stored.size());
    DecodeRequest request;
    request.coding = EntryCoding::Lzma;
    request.stored = &source;
    request.storedSize = stored.size();
    request.decodedSize = input.size();
    StringSink sink;
    EXPECT_EQ(DecodeEntryData(request, sink), DecodeError::None) << int(want.conversion);
    EXPECT_TRUE(sink.out == input) << int(want.conversion);
  }
}

// Built with 32-bit indexes, as mkpatch's deltas use it.
static_assert(sizeof(saidx_t) == 4, "the suffix sorter must be the 32-bit-index build");

TEST(DivSufSort, SortsEverySuffix) {
  const std::string banana = "banana";
  std::vector<saidx_t> order(banana.size());
  ASSERT_EQ(divsufsort(reinterpret_cast<const sauchar_t*>(banana.data()), order.data(),
                       static_cast<saidx_t>(banana.size())),
            0);
  EXPECT_EQ(order, (std::vector<saidx_t>{5, 3, 1, 0, 4, 2}));

  const std::string text = MixedInput().substr(0, 1 << 16);
  const saidx_t n = static_cast<saidx_t>(text.size());
  std::vector<saidx_t> suffixes(text.size());
  ASSERT_EQ(divsufsort(reinterpret_cast<const sauchar_t*>(text.data()), suffixes.data(), n), 0);
  std::vector<bool> seen(text.size());
  for (saidx_t at : suffixes) {
    ASSERT_TRUE(at >= 0 && at < n && !seen[at]) << at;
    seen[at] = true;
  }
  for (size_t i = 1; i < suffixes.size(); ++i) {
    ASSERT_LT(
        text.compare(suffixes[i - 1], std::string::npos, text, suffixes[i], std::string::npos), 0)
        << "suffixes " << suffixes[i - 1] << " and " << suffixes[i];
  }
}

}  // namespace
