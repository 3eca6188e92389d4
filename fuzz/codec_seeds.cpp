// codec_seeds DIR OLD NEW [OLD NEW]...: writes inputs for fuzz_codec
// (codec_fuzz.cpp, the long form) into DIR: for each pair of builds, the
// reference-aware delta of NEW against OLD in each of its layouts and the
// delta with OLD as prefix and converted branches, with OLD as the installed
// file. Real programs make the seeds the reference model's
// parser, walk and preamble are fuzzed from; ./dev test feeds it the cross
// compiler's runtime DLLs, which are never committed.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mkpatch/codec/delta_writer.h"
#include "mkpatch/codec/reference_streams.h"
#include "mkpatch/codec/x86_branch_convert.h"
#include "mkpatch/codec/zstd_encode.h"
#include "update/codec/delta_format.h"
#include "update/codec/entry_codec.h"

namespace {

using Bytes = std::vector<unsigned char>;

bool ReadAll(const char* path, Bytes* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

void Put(Bytes& out, uint64_t value, int width) {
  for (int k = 0; k < width; ++k) out.push_back(static_cast<unsigned char>(value >> (8 * k)));
}

// One input: the delta entry of NEW (`size` bytes) against OLD.
bool WriteInput(const std::string& path, const Bytes& old, size_t size, const Bytes& delta) {
  Bytes input = {static_cast<unsigned char>(0x80 | static_cast<int>(EntryCoding::Delta))};
  Put(input, size, 3);
  Put(input, old.size(), 4);
  input.insert(input.end(), old.begin(), old.end());
  input.insert(input.end(), delta.begin(), delta.end());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(input.data()),
            static_cast<std::streamsize>(input.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc % 2 != 0) {
    std::fprintf(stderr, "usage: codec_seeds DIR OLD NEW [OLD NEW]...\n");
    return 2;
  }
  int written = 0;
  for (int i = 2; i + 1 < argc; i += 2) {
    Bytes old, next;
    if (!ReadAll(argv[i], &old) || !ReadAll(argv[i + 1], &next)) {
      std::fprintf(stderr, "codec_seeds: cannot read %s or %s\n", argv[i], argv[i + 1]);
      return 1;
    }
    // The decoded size has three bytes in the fuzzer's input.
    if (next.size() >= (size_t(1) << 24) || old == next) continue;
    const std::string stem = std::string(argv[1]) + "/real_pe_";
    if (old.size() <= DELTA_PREFIX_MAX) {
      Bytes delta = {DELTA_METHOD_SOURCE_PREFIX_X86};
      const Bytes streams =
          CompressZstdX86WithPrefix(ConvertX86Branches(next.data(), next.size()),
                                    ConvertX86Branches(old.data(), old.size()).main, 19);
      delta.insert(delta.end(), streams.begin(), streams.end());
      if (!WriteInput(stem + "prefix_" + std::to_string(written++), old, next.size(), delta)) {
        return 1;
      }
    }
    DeltaStreams streams;
    if (!WriteReferenceStreams(old.data(), old.size(), next.data(), next.size(), 64, &streams)) {
      continue;
    }
    for (DeltaLayoutChoice layout : {DeltaLayoutChoice::Separate, DeltaLayoutChoice::SeparateSparse,
                                     DeltaLayoutChoice::Packed}) {
      if (!LayoutFits(layout, streams)) continue;
      if (!WriteInput(stem + std::to_string(written++), old, next.size(),
                      WriteDelta(streams, layout, 19))) {
        return 1;
      }
    }
  }
  std::printf("codec_seeds: %d inputs\n", written);
  return 0;
}
