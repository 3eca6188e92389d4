// codec_bench encode OLD NEW OUT     the entry data mkpatch would store for NEW
//                                    (delta against OLD, or whole); prints its
//                                    coding and size
// codec_bench decode OLD DATA OUT    decodes stored entry data against OLD
//                                    (the coding is read from DATA's first byte,
//                                    as written by encode)
// Files are read whole; OLD may be /dev/null. Times are printed on stderr.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "entry_codec.h"
#include "entry_encoder.h"
#include "payload_table.h"

namespace {

using Bytes = std::vector<unsigned char>;

bool ReadAll(const char* path, Bytes* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool WriteAll(const char* path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

class FileSink : public DecodeSink {
 public:
  explicit FileSink(FILE* file) : file_(file) {}
  bool Write(const unsigned char* data, uint32_t length) override {
    return std::fwrite(data, 1, length, file_) == length;
  }

 private:
  FILE* file_;
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

int Encode(const char* oldPath, const char* newPath, const char* outPath) {
  Bytes old, target;
  if (!ReadAll(oldPath, &old) || !ReadAll(newPath, &target)) return 2;
  const auto start = std::chrono::steady_clock::now();
  EncodedData data = old.empty()
                         ? EncodeWhole(target.data(), target.size())
                         : EncodeChanged(old.data(), old.size(), target.data(), target.size());
  const double seconds = Seconds(start);
  Bytes out;
  out.push_back(static_cast<unsigned char>(data.coding));
  out.insert(out.end(), data.bytes.begin(), data.bytes.end());
  // A little-endian size of the decoded file goes first.
  Bytes sized(4);
  for (int i = 0; i < 4; ++i) sized[i] = static_cast<unsigned char>(target.size() >> (8 * i));
  sized.insert(sized.end(), out.begin(), out.end());
  if (!WriteAll(outPath, sized)) return 2;
  const char* names[] = {"stored", "zstd", "delta"};
  std::printf("%s %zu\n", names[static_cast<int>(data.coding)], data.bytes.size());
  std::fprintf(stderr, "encode %.3f s\n", seconds);
  return 0;
}

int Decode(const char* oldPath, const char* dataPath, const char* outPath) {
  Bytes old, data;
  if (!ReadAll(oldPath, &old) || !ReadAll(dataPath, &data) || data.size() < 5) return 2;
  uint32_t decodedSize = 0;
  for (int i = 0; i < 4; ++i) decodedSize |= uint32_t(data[i]) << (8 * i);
  MemoryPayloadSource stored(data.data(), data.size());
  MemoryPayloadSource source(old.data(), old.size());
  FILE* out = std::fopen(outPath, "wb");
  if (out == nullptr) return 2;
  FileSink sink(out);
  DecodeRequest request;
  request.coding = static_cast<EntryCoding>(data[4]);
  request.stored = &stored;
  request.storedBegin = 5;
  request.storedSize = data.size() - 5;
  request.source = &source;
  request.decodedSize = decodedSize;
  const auto start = std::chrono::steady_clock::now();
  const DecodeError error = DecodeEntryData(request, sink);
  const double seconds = Seconds(start);
  std::fclose(out);
  if (error != DecodeError::None) {
    std::fprintf(stderr, "decode failed: %s\n", DecodeErrorText(error));
    return 1;
  }
  std::fprintf(stderr, "decode %.3f s\n", seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "encode") == 0) return Encode(argv[2], argv[3], argv[4]);
  if (argc == 5 && std::strcmp(argv[1], "decode") == 0) return Decode(argv[2], argv[3], argv[4]);
  std::fprintf(stderr, "usage: codec_bench encode OLD NEW OUT | decode OLD DATA OUT\n");
  return 2;
}
