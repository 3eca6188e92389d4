// Times the MD5 class over one file, the way the updater fingerprints its own
// executable (OpenForDigest, then the FILE constructor), and prints the
// digest so the caller can check it against another tool.
#include <chrono>
#include <cstdio>

#include "update/base/md5.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: md5_bench FILE\n");
    return 2;
  }
  DigestReadAhead readAhead;
  FILE* file = OpenForDigest(argv[1], readAhead);
  if (!file) {
    std::fprintf(stderr, "md5_bench: cannot open %s\n", argv[1]);
    return 1;
  }
  std::fseek(file, 0, SEEK_END);
  long size = std::ftell(file);
  std::rewind(file);
  auto start = std::chrono::steady_clock::now();
  MD5 digest(file);  // reads to the end and closes the file
  std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  double mibPerSecond = elapsed.count() > 0 ? size / 1048576.0 / elapsed.count() : 0;
  std::printf("%s %.3f %.1f\n", digest.hex_digest().c_str(), elapsed.count(), mibPerSecond);
  return 0;
}
