// What `mkpatch diff` tells about the patch it wrote: a table on stderr for
// people, or one JSON object on stdout for scripts (a benchmark reads the
// field names, so they stay as they are).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "update/codec/entry_codec.h"
#include "update/format/entry_detail.h"

struct DiffRow {
  std::string path;  // UTF-8, '\' between parts; a package's file name
  std::string from;  // a delta's source at another path (a renamed file), or empty
  // "delta", "whole", "new", "removed", "package"; from several old builds
  // also "step" (a delta to a later build's bytes) and "builds" (their list)
  std::string action;
  bool coded = false;  // false for removals: nothing is stored
  EntryCoding coding = EntryCoding::Stored;
  std::string deltaWay;  // how a delta makes the file (DeltaWayText), else empty
  bool hasOldSize = false;
  uint64_t oldSize = 0;
  bool hasNewSize = false;
  uint64_t newSize = 0;
  uint64_t stored = 0;   // the entry's data bytes after its descriptor
  uint64_t shipped = 0;  // header + descriptor + stored
  // From several old builds: the builds whose file the entry applies to (a
  // delta's, step's or removal's source; for a whole file the builds that
  // take it), and for a step the builds whose bytes it makes.
  std::vector<std::string> builds;
  std::vector<std::string> stepTo;
};

struct DiffReport {
  std::string output;
  std::string baseVersion;
  std::string targetVersion;
  std::vector<DiffRow> rows;  // in the order of the entries
  size_t unchanged = 0;
  uint64_t stubBytes = 0;
  uint64_t patchSize = 0;  // the whole file: stub, entries, trailer
  // From several old builds: their names, base first, and what the patches
  // this one replaces would ship (their entries, packages aside).
  std::vector<std::string> buildNames;
  uint64_t singleSteps = 0;
  uint64_t direct = 0;
  // With --repair: the files shipped whole although deltas reached every
  // build, and what that cost beyond those deltas.
  bool repair = false;
  size_t repairedFiles = 0;
  uint64_t repairCost = 0;
};

void PrintDiffSummary(const DiffReport& report, std::ostream& err);
void PrintDiffJson(const DiffReport& report, std::ostream& out);
