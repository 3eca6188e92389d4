#include "update/base/md5.h"

#include <cassert>
#include <cstring>
#include <new>

#include "update/base/little_endian.h"

namespace {

// Shared by every object and only ever read.
const unsigned char kPadding[64] = {0x80};

void EncodeLe(unsigned char* output, const uint32_t* input, size_t words) {
  for (size_t i = 0; i < words; ++i) {
    output[i * 4] = static_cast<unsigned char>(input[i]);
    output[i * 4 + 1] = static_cast<unsigned char>(input[i] >> 8);
    output[i * 4 + 2] = static_cast<unsigned char>(input[i] >> 16);
    output[i * 4 + 3] = static_cast<unsigned char>(input[i] >> 24);
  }
}

inline uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
// F with one operation less than RFC 1321 writes it, same values.
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

inline void FF(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac) {
  a = RotateLeft(a + F(b, c, d) + x + ac, s) + b;
}
// G(b, c, d) = (b & d) | (c & ~d): the two halves share no bit, so they may
// be added instead, and all but (b & d) is ready before b, the word the
// previous step has only just computed.
inline void GG(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac) {
  a = RotateLeft(a + x + ac + (c & ~d) + (b & d), s) + b;
}
inline void HH(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac) {
  a = RotateLeft(a + H(b, c, d) + x + ac, s) + b;
}
inline void II(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac) {
  a = RotateLeft(a + I(b, c, d) + x + ac, s) + b;
}

// Through the C stream: std::cerr writes straight through to it (the
// streams are synchronised with stdio unless a program says otherwise), and
// the updater then carries none of the C++ stream and locale machinery.
void ReportMisuse(const char* message, const char* tail = "") {
  std::fputs(message, stderr);
  std::fputs(tail, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

const char kDigestMisuseTail[] = "finalized the digest!";

}  // namespace

MD5::MD5() { init(); }

MD5::MD5(FILE* file) {
  init();
  update(file);
  finalize();
}

void MD5::init() {
  finalized = 0;
  count[0] = count[1] = 0;
  state[0] = 0x67452301u;
  state[1] = 0xefcdab89u;
  state[2] = 0x98badcfeu;
  state[3] = 0x10325476u;
  std::memset(buffer, 0, sizeof buffer);
  std::memset(digest, 0, sizeof digest);
}

void MD5::update(const unsigned char* input, uint32_t length) {
  if (finalized) {
    ReportMisuse("MD5::update:  Can't update a finalized digest!");
    return;
  }
  uint32_t waiting = (count[0] >> 3) & 0x3F;
  uint32_t addedBits = length << 3;
  count[0] += addedBits;
  if (count[0] < addedBits) ++count[1];
  count[1] += length >> 29;

  uint32_t freeSpace = 64 - waiting;
  uint32_t consumed = 0;
  if (length >= freeSpace) {
    // Only a partial block waiting in the buffer is completed by copying;
    // every further whole block is digested straight from the caller's bytes.
    if (waiting != 0) {
      std::memcpy(buffer + waiting, input, freeSpace);
      transform(buffer, 1);
      consumed = freeSpace;
    }
    uint32_t whole = (length - consumed) / 64;
    transform(input + consumed, whole);
    consumed += whole * 64;
    waiting = 0;
  }
  if (length > consumed) std::memcpy(buffer + waiting, input + consumed, length - consumed);
}

FILE* OpenForDigest(const char* path, DigestReadAhead& readAhead) {
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return nullptr;
  // Before any read, as setvbuf requires.
  readAhead.bytes.reset(new (std::nothrow) char[kDigestReadAhead]);
  std::setvbuf(file, readAhead.bytes.get(), _IOFBF, kDigestReadAhead);
  return file;
}

void MD5::update(FILE* file) {
  unsigned char chunk[1024];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    update(chunk, static_cast<uint32_t>(got));
  }
  std::fclose(file);
}

void MD5::finalize() {
  if (finalized) {
    ReportMisuse("MD5::finalize:  Already finalized this digest!");
    return;
  }
  unsigned char bits[8];
  EncodeLe(bits, count, 2);
  uint32_t waiting = (count[0] >> 3) & 0x3F;
  uint32_t padLength = waiting < 56 ? 56 - waiting : 120 - waiting;
  update(kPadding, padLength);
  update(bits, 8);
  EncodeLe(digest, state, 4);
  std::memset(buffer, 0, sizeof buffer);
  finalized = 1;
}

std::string MD5::raw_digest() const {
  if (!finalized) {
    ReportMisuse("MD5::raw_digest:  Can't get digest if you haven't ", kDigestMisuseTail);
    return std::string();
  }
  return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

std::string MD5::hex_digest() const {
  if (!finalized) {
    ReportMisuse("MD5::hex_digest:  Can't get digest if you haven't ", kDigestMisuseTail);
    return std::string();
  }
  static const char kHex[] = "0123456789abcdef";
  std::string text(32, '0');
  for (int i = 0; i < 16; ++i) {
    text[i * 2] = kHex[digest[i] >> 4];
    text[i * 2 + 1] = kHex[digest[i] & 0x0F];
  }
  return text;
}

void MD5::transform(const unsigned char* blocks, size_t blockCount) {
  assert(!finalized);
  if (blockCount == 0) return;
  // The chaining words stay in locals over all the blocks: stored through
  // `this`, the compiler would have to reload them after every input read.
  uint32_t s0 = state[0], s1 = state[1], s2 = state[2], s3 = state[3];
  uint32_t x[16];
  for (const unsigned char* block = blocks; blockCount != 0; --blockCount, block += 64) {
    for (int i = 0; i < 16; ++i) x[i] = ReadLe32(block + i * 4);
    uint32_t a = s0, b = s1, c = s2, d = s3;

    // The step table, two steps a line.
    // clang-format off
    FF(a, b, c, d, x[0], 7, 0xd76aa478); FF(d, a, b, c, x[1], 12, 0xe8c7b756);
    FF(c, d, a, b, x[2], 17, 0x242070db); FF(b, c, d, a, x[3], 22, 0xc1bdceee);
    FF(a, b, c, d, x[4], 7, 0xf57c0faf); FF(d, a, b, c, x[5], 12, 0x4787c62a);
    FF(c, d, a, b, x[6], 17, 0xa8304613); FF(b, c, d, a, x[7], 22, 0xfd469501);
    FF(a, b, c, d, x[8], 7, 0x698098d8); FF(d, a, b, c, x[9], 12, 0x8b44f7af);
    FF(c, d, a, b, x[10], 17, 0xffff5bb1); FF(b, c, d, a, x[11], 22, 0x895cd7be);
    FF(a, b, c, d, x[12], 7, 0x6b901122); FF(d, a, b, c, x[13], 12, 0xfd987193);
    FF(c, d, a, b, x[14], 17, 0xa679438e); FF(b, c, d, a, x[15], 22, 0x49b40821);

    GG(a, b, c, d, x[1], 5, 0xf61e2562); GG(d, a, b, c, x[6], 9, 0xc040b340);
    GG(c, d, a, b, x[11], 14, 0x265e5a51); GG(b, c, d, a, x[0], 20, 0xe9b6c7aa);
    GG(a, b, c, d, x[5], 5, 0xd62f105d); GG(d, a, b, c, x[10], 9, 0x02441453);
    GG(c, d, a, b, x[15], 14, 0xd8a1e681); GG(b, c, d, a, x[4], 20, 0xe7d3fbc8);
    GG(a, b, c, d, x[9], 5, 0x21e1cde6); GG(d, a, b, c, x[14], 9, 0xc33707d6);
    GG(c, d, a, b, x[3], 14, 0xf4d50d87); GG(b, c, d, a, x[8], 20, 0x455a14ed);
    GG(a, b, c, d, x[13], 5, 0xa9e3e905); GG(d, a, b, c, x[2], 9, 0xfcefa3f8);
    GG(c, d, a, b, x[7], 14, 0x676f02d9); GG(b, c, d, a, x[12], 20, 0x8d2a4c8a);

    HH(a, b, c, d, x[5], 4, 0xfffa3942); HH(d, a, b, c, x[8], 11, 0x8771f681);
    HH(c, d, a, b, x[11], 16, 0x6d9d6122); HH(b, c, d, a, x[14], 23, 0xfde5380c);
    HH(a, b, c, d, x[1], 4, 0xa4beea44); HH(d, a, b, c, x[4], 11, 0x4bdecfa9);
    HH(c, d, a, b, x[7], 16, 0xf6bb4b60); HH(b, c, d, a, x[10], 23, 0xbebfbc70);
    HH(a, b, c, d, x[13], 4, 0x289b7ec6); HH(d, a, b, c, x[0], 11, 0xeaa127fa);
    HH(c, d, a, b, x[3], 16, 0xd4ef3085); HH(b, c, d, a, x[6], 23, 0x04881d05);
    HH(a, b, c, d, x[9], 4, 0xd9d4d039); HH(d, a, b, c, x[12], 11, 0xe6db99e5);
    HH(c, d, a, b, x[15], 16, 0x1fa27cf8); HH(b, c, d, a, x[2], 23, 0xc4ac5665);

    II(a, b, c, d, x[0], 6, 0xf4292244); II(d, a, b, c, x[7], 10, 0x432aff97);
    II(c, d, a, b, x[14], 15, 0xab9423a7); II(b, c, d, a, x[5], 21, 0xfc93a039);
    II(a, b, c, d, x[12], 6, 0x655b59c3); II(d, a, b, c, x[3], 10, 0x8f0ccc92);
    II(c, d, a, b, x[10], 15, 0xffeff47d); II(b, c, d, a, x[1], 21, 0x85845dd1);
    II(a, b, c, d, x[8], 6, 0x6fa87e4f); II(d, a, b, c, x[15], 10, 0xfe2ce6e0);
    II(c, d, a, b, x[6], 15, 0xa3014314); II(b, c, d, a, x[13], 21, 0x4e0811a1);
    II(a, b, c, d, x[4], 6, 0xf7537e82); II(d, a, b, c, x[11], 10, 0xbd3af235);
    II(c, d, a, b, x[2], 15, 0x2ad7d2bb); II(b, c, d, a, x[9], 21, 0xeb86d391);
    // clang-format on

    s0 += a;
    s1 += b;
    s2 += c;
    s3 += d;
  }
  state[0] = s0;
  state[1] = s1;
  state[2] = s2;
  state[3] = s3;
  // The decoded block may hold secrets of the input; do not leave it on the
  // stack. Each block's words overwrite the last one's, so clearing once
  // after the batch leaves none. Volatile stores: a plain memset of a dead
  // array is removed by the optimiser.
  volatile uint32_t* words = x;
  for (int i = 0; i < 16; ++i) words[i] = 0;
}
