// How much of one file's content another holds, estimated from a small
// sketch of each: the smallest hashes of all their 32-byte windows (a
// bottom-k MinHash of the sets of windows). Two files that share most of
// their windows are near-copies or builds of one file, whatever their
// names; files of unrelated content share almost none. Reading a file for
// its sketch costs one pass; comparing two sketches costs nothing worth
// counting. Deterministic on every platform.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

// The smallest distinct window hashes, ascending; at most kSketchSize.
using LikenessSketch = std::vector<uint64_t>;

constexpr size_t kSketchSize = 256;

// The sketch of the bytes read from `file` to its end; false on a read error.
bool SketchFile(FILE* file, LikenessSketch* sketch);
LikenessSketch SketchBytes(const unsigned char* data, size_t size);

// The estimated share of the windows of both that each of them holds
// (Jaccard resemblance) in 65536ths: in whole numbers, so that mkpatch and
// mkpatch.exe rank alike; 0 when either has no window.
constexpr uint32_t kWholeResemblance = 65536;
uint32_t Resemblance(const LikenessSketch& a, const LikenessSketch& b);
