// How each file of a patch reaches its new bytes from every old build: a
// delta from each old content, or a step to the next build's bytes where
// that is smaller, or the file whole where some build has nothing to make
// it from, or where the whole file is smaller than all its deltas together
// (every player downloads every entry, so a whole entry makes the deltas
// beside it dead weight). With --repair every file goes whole.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "mkpatch/plan/build_diff.h"
#include "mkpatch/write/file_encoding.h"

// The size of an encoding, without its bytes.
struct CodedSize {
  EntryCoding coding = EntryCoding::Stored;
  uint64_t stored = 0;
};

// The encodings made so far, by the bytes they join (size and MD5 of each),
// so that comparing a patch with the ones it replaces encodes nothing twice.
class EncodingLedger {
 public:
  void RecordChange(const std::string& from, const std::string& to, const CodedSize& coded);
  bool FindChange(const std::string& from, const std::string& to, CodedSize* coded) const;
  void RecordWhole(const std::string& of, const CodedSize& coded);
  bool FindWhole(const std::string& of, CodedSize* coded) const;

 private:
  std::map<std::string, CodedSize> changes_;
  std::map<std::string, CodedSize> wholes_;
};

// The ledger's name for bytes of `size` with `md5`.
std::string ContentKey(uint64_t size, const unsigned char (&md5)[16]);

// Whether a file found by its content alone, whose encoding against it is
// `changeCoding`, ships as a new file (its own whole encoding) instead.
inline bool ShipsAsNew(bool bySimilarity, EntryCoding changeCoding) {
  return bySimilarity && changeCoding != EntryCoding::Delta;
}

// The bytes an entry adds to the patch: its header, descriptor and data.
uint64_t ShippedBytes(const EntryDescriptor& descriptor, uint64_t stored);

struct WayOptions {
  bool namesBuilds = false;  // several old builds: deltas and removals name theirs
  bool repair = false;       // every file whole
};

// One entry of a file: its descriptor complete (kind, path, source, step,
// builds) and its stored bytes.
struct PlannedWay {
  EncodedEntry encoded;
  int content = -1;       // the old content a delta or step applies to
  bool step = false;      // its result is content `next` of that content
  uint32_t wholeFor = 0;  // the file whole: the old builds that take it
  uint64_t shipped = 0;   // ShippedBytes
};

struct FileWays {
  std::vector<PlannedWay> entries;  // deltas and steps by content, the whole file last
  // What every content's cheapest delta or step would ship together; 0 where
  // some build has no delta at all.
  uint64_t deltaBytes = 0;
  bool repaired = false;  // shipped whole for --repair, though deltas reach every build
};

// Encodes the ways of `file` and keeps the smallest set that reaches every
// old build; records every encoding in `ledger`.
EncodeStatus ChooseWays(const ShippedFile& file, const WayOptions& options, EncodingLedger* ledger,
                        const EncodeProgress& progress, FileWays* ways);

// The bytes ChooseWays encodes for `file`, for a progress bar: the target's
// size once per encoding it will make.
uint64_t EncodingWork(const ShippedFile& file, const WayOptions& options);
