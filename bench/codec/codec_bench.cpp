// codec_bench encode OLD NEW OUT [--no-references]
//                                    the entry data mkpatch would store for NEW
//                                    (delta against OLD, or whole); prints its
//                                    coding and size; with --no-references two
//                                    images are plain bytes to it
// codec_bench decode OLD DATA OUT [--one-thread]
//                                    decodes stored entry data against OLD
//                                    (the coding is read from DATA's first byte,
//                                    as written by encode) with a worker thread
//                                    as the updater has, or without
// codec_bench pair OLD NEW MiB      writes two builds of a program-like file
//                                    of about MiB mebibytes: NEW has code
//                                    inserted near the front (so pointers and
//                                    calls after it move) and scattered edits
// Files are read whole, but for decode's OLD and DATA, which are read where
// the decoder asks, as the updater reads the installed file and its own
// payload; OLD may be /dev/null. Times are printed on stderr.
#ifndef _WIN32
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_files.h"
#include "mkpatch/codec/entry_encoder.h"
#include "update/base/standard_worker_thread.h"
#include "update/codec/entry_codec.h"
#include "update/format/entry_descriptor.h"
#include "update/format/payload_table.h"

namespace {

using Bytes = std::vector<unsigned char>;

bool ReadAll(const char* path, Bytes* bytes) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  bytes->resize(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  return static_cast<bool>(
      in.read(reinterpret_cast<char*>(bytes->data()), static_cast<std::streamsize>(bytes->size())));
}

// A file read where the decoder asks, one system call a read, as the
// updater reads the installed file and its payload (a positioned ReadFile).
class FileByteSource : public ByteSource {
 public:
  explicit FileByteSource(FILE* file) : file_(file) {
    std::fseek(file_, 0, SEEK_END);
    size_ = static_cast<uint64_t>(std::ftell(file_));
  }
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) override {
    *bytesRead = 0;
#ifdef _WIN32
    if (_fseeki64(file_, static_cast<long long>(offset), SEEK_SET) != 0) return false;
    *bytesRead = static_cast<uint32_t>(std::fread(buffer, 1, length, file_));
    return *bytesRead == length || std::feof(file_);
#else
    while (*bytesRead < length) {
      const ssize_t got = pread(fileno(file_), static_cast<char*>(buffer) + *bytesRead,
                                length - *bytesRead, static_cast<off_t>(offset + *bytesRead));
      if (got < 0) return false;
      if (got == 0) break;
      *bytesRead += static_cast<uint32_t>(got);
    }
    return true;
#endif
  }

 private:
  FILE* file_;
  uint64_t size_ = 0;
};

bool WriteAll(const char* path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

int Encode(const char* oldPath, const char* newPath, const char* outPath, bool references) {
  Bytes old, target;
  if (!ReadAll(oldPath, &old) || !ReadAll(newPath, &target)) return 2;
  const auto start = std::chrono::steady_clock::now();
  EncodedData data = old.empty() ? EncodeWhole(target.data(), target.size())
                                 : EncodeChanged(old.data(), old.size(), target.data(),
                                                 target.size(), nullptr, references);
  const double seconds = Seconds(start);
  Bytes out;
  out.push_back(static_cast<unsigned char>(data.coding));
  out.insert(out.end(), data.bytes.begin(), data.bytes.end());
  // A little-endian size of the decoded file goes first.
  Bytes sized(4);
  for (int i = 0; i < 4; ++i) sized[i] = static_cast<unsigned char>(target.size() >> (8 * i));
  sized.insert(sized.end(), out.begin(), out.end());
  if (!WriteAll(outPath, sized)) return 2;
  std::printf("%s %zu\n", CodingName(data.coding), data.bytes.size());
  std::fprintf(stderr, "encode %.3f s\n", seconds);
  return 0;
}

int Decode(const char* oldPath, const char* dataPath, const char* outPath, bool oneThread) {
  FILE* dataFile = std::fopen(dataPath, "rb");
  if (dataFile == nullptr) return 2;
  FileByteSource stored(dataFile);
  unsigned char head[5];
  uint32_t got = 0;
  if (!stored.ReadAt(0, head, sizeof head, &got) || got != sizeof head) return 2;
  uint32_t decodedSize = 0;
  for (int i = 0; i < 4; ++i) decodedSize |= uint32_t(head[i]) << (8 * i);
  FILE* oldFile = std::fopen(oldPath, "rb");
  if (oldFile == nullptr) return 2;
  FileByteSource source(oldFile);
  FILE* out = std::fopen(outPath, "wb");
  if (out == nullptr) return 2;
  FileSink sink(out);
  DecodeRequest request;
  request.coding = static_cast<EntryCoding>(head[4]);
  request.stored = &stored;
  request.storedBegin = 5;
  request.storedSize = stored.Size() - 5;
  request.source = &source;
  request.decodedSize = decodedSize;
  // Two threads may read the source only where each read names its place:
  // pread does, the Windows build's seek and read do not (one thread there).
  StandardWorkerThread worker;
#ifndef _WIN32
  if (!oneThread) request.worker = &worker;
#else
  (void)oneThread;
#endif
  const auto start = std::chrono::steady_clock::now();
  const DecodeError error = DecodeEntryData(request, sink);
  const double seconds = Seconds(start);
  std::fclose(out);
  std::fclose(oldFile);
  std::fclose(dataFile);
  if (error != DecodeError::None) {
    std::fprintf(stderr, "decode failed: %s\n", DecodeErrorText(error));
    return 1;
  }
  std::fprintf(stderr, "decode %.3f s\n", seconds);
  return 0;
}

// A small generator, the same bytes on every platform.
struct Generator {
  uint32_t state;
  uint32_t Next() { return (state = state * 1664525u + 1013904223u) >> 8; }
};

// Code-like bytes: instructions, calls to a few thousand functions, tables of
// pointers into the image.
void AppendProgram(Generator& random, size_t size, Bytes& out) {
  const size_t end = out.size() + size;
  while (out.size() < end) {
    const uint32_t kind = random.Next() % 10;
    if (kind < 6) {
      for (int i = 0; i < 7; ++i)
        out.push_back(static_cast<unsigned char>(0x50 + random.Next() % 64));
    } else if (kind < 9) {
      const uint32_t target = 0x1000 + (random.Next() % 4096) * 256;
      const uint32_t displacement = target - static_cast<uint32_t>(out.size() + 5);
      out.push_back(0xE8);
      for (int k = 0; k < 4; ++k)
        out.push_back(static_cast<unsigned char>(displacement >> (8 * k)));
    } else {
      for (int i = 0; i < 8; ++i) {
        const uint32_t pointer = 0x400000u + (random.Next() % 4096) * 256;
        for (int k = 0; k < 4; ++k) out.push_back(static_cast<unsigned char>(pointer >> (8 * k)));
      }
    }
  }
  out.resize(end);
}

int Pair(const char* oldPath, const char* newPath, size_t mebibytes) {
  Generator random{2026};
  Bytes old;
  old.reserve(mebibytes << 20);
  AppendProgram(random, mebibytes << 20, old);
  // The next build: 64 KiB of new code a fifth of the way in, and one byte in
  // 4096 changed.
  const size_t at = old.size() / 5;
  Bytes next(old.begin(), old.begin() + at);
  AppendProgram(random, 64 << 10, next);
  next.insert(next.end(), old.begin() + at, old.end());
  for (size_t i = 0; i < next.size() / 4096; ++i) next[random.Next() % next.size()] ^= 0x11;
  return WriteAll(oldPath, old) && WriteAll(newPath, next) ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "encode") == 0) {
    return Encode(argv[2], argv[3], argv[4], true);
  }
  if (argc == 6 && std::strcmp(argv[1], "encode") == 0 &&
      std::strcmp(argv[5], "--no-references") == 0) {
    return Encode(argv[2], argv[3], argv[4], false);
  }
  if (argc == 5 && std::strcmp(argv[1], "decode") == 0) {
    return Decode(argv[2], argv[3], argv[4], false);
  }
  if (argc == 6 && std::strcmp(argv[1], "decode") == 0 &&
      std::strcmp(argv[5], "--one-thread") == 0) {
    return Decode(argv[2], argv[3], argv[4], true);
  }
  if (argc == 5 && std::strcmp(argv[1], "pair") == 0) {
    return Pair(argv[2], argv[3], static_cast<size_t>(std::atoi(argv[4])));
  }
  std::fprintf(stderr,
               "usage: codec_bench encode OLD NEW OUT [--no-references] | decode OLD DATA OUT "
               "[--one-thread] | "
               "pair OLD NEW MiB\n");
  return 2;
}
