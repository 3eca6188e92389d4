// What the patches a cumulative patch replaces would ship: one patch for
// each old build to the next one (the last to the new build), and one for
// each old build straight to the new build, each as `mkpatch diff` makes it
// from two trees. Only their entries count, packages aside: every patch
// carries the same program and packages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mkpatch/plan/build_diff.h"
#include "mkpatch/plan/way_choice.h"

struct PatchComparison {
  uint64_t singleSteps = 0;  // the entries of the patches from each build to the next
  uint64_t direct = 0;       // the entries of the patches from each build to the new one
};

// Encodes what `ledger` does not hold yet. False, with a message, when a
// file cannot be read or encoded.
bool ComparePatches(ReleaseBuilds& builds, EncodingLedger* ledger, const EncodeProgress& progress,
                    PatchComparison* comparison, std::string* error);
