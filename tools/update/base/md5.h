// MD5 message digest (RFC 1321) over bytes, an open FILE or an input stream.
// The updater fingerprints its own executable with it after a run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <iosfwd>
#include <memory>
#include <string>

class MD5 {
 public:
  MD5();
  // Reads the file to its end, closes it and finalizes: the caller must not
  // touch `file` afterwards.
  explicit MD5(FILE* file);
  // Reads the stream while it is good and finalizes; the stream stays open.
  explicit MD5(std::istream& stream);

  void update(const unsigned char* input, uint32_t length);
  void update(FILE* file);  // closes the file at its end
  void update(std::istream& stream);
  void finalize();

  // 16 raw bytes; empty (after a message on cerr) before finalize.
  std::string raw_digest() const;
  // 32 lowercase hex digits; empty (after a message on cerr) before finalize.
  std::string hex_digest() const;

  friend std::ostream& operator<<(std::ostream& stream, MD5 context);

 private:
  void init();
  // Digests `blockCount` whole 64-byte blocks.
  void transform(const unsigned char* blocks, size_t blockCount);

  uint32_t state[4];
  uint32_t count[2];  // bits fed so far, low word first
  unsigned char buffer[64];
  unsigned char digest[16];
  uint8_t finalized;
};

// The read-ahead buffer OpenForDigest gives a file. MD5 reads 1024 bytes at
// a time; behind that, the C library's default buffer (4 KiB) would cost one
// system call per four reads. The buffer is the caller's: a library given no
// buffer may ignore the size asked for (glibc does), and the one it is given
// stays in use until the file is closed, so it must outlive the FILE.
const size_t kDigestReadAhead = 64 * 1024;
struct DigestReadAhead {
  std::unique_ptr<char[]> bytes;
};

// Opens `path` for reading by MD5(FILE*), reading ahead through `readAhead`
// (or the library's default buffer when there is no memory for it); null
// when it cannot be opened. Declare `readAhead` before the MD5 that closes
// the file.
FILE* OpenForDigest(const char* path, DigestReadAhead& readAhead);
