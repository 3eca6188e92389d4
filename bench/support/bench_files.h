// What the benchmarks that decode into files share: a decoder sink writing
// to an open file, and the seconds since a moment.
#pragma once

#include <chrono>
#include <cstdio>

#include "update/codec/entry_codec.h"

class FileSink : public DecodeSink {
 public:
  explicit FileSink(FILE* file) : file_(file) {}
  bool Write(const unsigned char* data, uint32_t length) override {
    return std::fwrite(data, 1, length, file_) == length;
  }

 private:
  FILE* file_;  // not owned
};

inline double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}
