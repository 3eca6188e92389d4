// large_bench encode OLD NEW OUT   what mkpatch diff stores for NEW changed from
//                                  OLD (file_encoding.h, the same code path:
//                                  streamed above its threshold); OUT holds the
//                                  coding (1 byte), the decoded size (8 bytes,
//                                  little-endian) and the stored bytes; prints
//                                  the coding and the stored size
// large_bench decode OLD DATA OUT  decodes DATA against OLD as the updater
//                                  does (DecodeEntryData, files read in place)
// Both print their own time on stderr; peak memory is the caller's to take.
#include <chrono>
#include <cstdio>
#include <string>

#include "bench_files.h"
#include "mkpatch/fs/file_source.h"
#include "mkpatch/fs/file_system.h"
#include "mkpatch/write/file_encoding.h"
#include "update/codec/entry_codec.h"
#include "update/format/entry_descriptor.h"

namespace {

constexpr uint64_t kHeaderSize = 9;

bool SizeOf(const std::string& path, uint64_t* size) {
  UniqueFile file = OpenFile(path, "rb");
  return file && FileSize(file.Get(), size);
}

int Encode(const std::string& oldPath, const std::string& newPath, const std::string& outPath) {
  uint64_t oldSize = 0, newSize = 0;
  if (!SizeOf(oldPath, &oldSize) || !SizeOf(newPath, &newSize)) return 2;
  const auto start = std::chrono::steady_clock::now();
  // Where the time goes: the differ tells the alignment as the first half
  // of its progress (it starts once the old file is indexed) and the
  // streams as the second.
  double indexed = 0, aligned = 0;
  const EncodeProgress progress = [&](uint64_t done, uint64_t total) {
    if (indexed == 0) indexed = Seconds(start);
    if (aligned == 0 && done >= total / 2) aligned = Seconds(start);
  };
  EncodedEntry entry;
  const EncodeStatus status =
      EncodeFileChange(oldPath, oldSize, newPath, newSize, progress, &entry);
  const double seconds = Seconds(start);
  if (status != EncodeStatus::Done) {
    std::fprintf(stderr, "encode failed (%s)\n",
                 status == EncodeStatus::OutOfMemory ? "out of memory" : "unreadable");
    return 1;
  }
  UniqueFile out = OpenFile(outPath, "wb");
  unsigned char header[kHeaderSize] = {static_cast<unsigned char>(entry.descriptor.coding)};
  for (int i = 0; i < 8; ++i)
    header[1 + i] = static_cast<unsigned char>(entry.descriptor.decodedSize >> (8 * i));
  if (!out || std::fwrite(header, 1, kHeaderSize, out.Get()) != kHeaderSize ||
      std::fwrite(entry.stored.data(), 1, entry.stored.size(), out.Get()) != entry.stored.size()) {
    return 2;
  }
  std::printf("%s %zu\n", CodingName(entry.descriptor.coding), entry.stored.size());
  std::fprintf(stderr,
               "encode %.3f s (index %.1f s, alignment %.1f s, streams and the rest %.1f s)\n",
               seconds, indexed, aligned - indexed, seconds - aligned);
  return 0;
}

int Decode(const std::string& oldPath, const std::string& dataPath, const std::string& outPath) {
  uint64_t oldSize = 0, dataSize = 0;
  if (!SizeOf(oldPath, &oldSize) || !SizeOf(dataPath, &dataSize) || dataSize < kHeaderSize)
    return 2;
  UniqueFile oldFile = OpenFile(oldPath, "rb"), dataFile = OpenFile(dataPath, "rb");
  UniqueFile out = OpenFile(outPath, "wb");
  if (!oldFile || !dataFile || !out) return 2;
  FileByteSource source(oldFile.Get(), oldSize), stored(dataFile.Get(), dataSize);
  unsigned char header[kHeaderSize];
  uint32_t got = 0;
  if (!stored.ReadAt(0, header, kHeaderSize, &got) || got != kHeaderSize) return 2;
  DecodeRequest request;
  request.coding = static_cast<EntryCoding>(header[0]);
  for (int i = 0; i < 8; ++i) request.decodedSize |= uint64_t(header[1 + i]) << (8 * i);
  request.stored = &stored;
  request.storedBegin = kHeaderSize;
  request.storedSize = dataSize - kHeaderSize;
  request.source = &source;
  FileSink sink(out.Get());
  const auto start = std::chrono::steady_clock::now();
  const DecodeError error = DecodeEntryData(request, sink);
  const double seconds = Seconds(start);
  if (error != DecodeError::None || std::fflush(out.Get()) != 0) {
    std::fprintf(stderr, "decode failed: %s\n", DecodeErrorText(error));
    return 1;
  }
  std::fprintf(stderr, "decode %.3f s\n", seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (argc == 5 && command == "encode") return Encode(argv[2], argv[3], argv[4]);
  if (argc == 5 && command == "decode") return Decode(argv[2], argv[3], argv[4]);
  std::fprintf(stderr, "usage: large_bench encode OLD NEW OUT | decode OLD DATA OUT\n");
  return 2;
}
