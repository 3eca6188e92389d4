// Everything mkpatch can say about an updater file or package: what the
// updater itself would refuse, and what a sound writer never produces.
#pragma once

#include <string>
#include <vector>

#include "payload_digest.h"
#include "payload_table.h"

struct PayloadReport {
  uint64_t fileSize = 0;
  bool trailerRead = false;
  PatchTrailer trailer{};
  PayloadTable table;
  PayloadDigestRecord digest;  // the record in the trailer, if any
  // For a present record: what the entry region hashes to, and whether it
  // matches (a region that cannot be read whole never matches).
  unsigned char actualDigest[PAYLOAD_DIGEST_SIZE] = {};
  bool digestMatches = false;
  // Faults that stop the updater (or that it would extract unsafely).
  std::vector<std::string> structuralProblems;
  // Faults only a careless writer makes: versions, gaps, clashing names.
  std::vector<std::string> writerProblems;

  bool digestFailed = false;  // present and not matching: one structural problem

  bool Readable() const { return structuralProblems.empty(); }
  // Sound apart from a damaged entry region: the table can still be shown.
  bool Listable() const { return structuralProblems.size() == (digestFailed ? 1u : 0u); }
};

PayloadReport InspectPayload(PayloadSource& source);

// Whether the updater hands the entry to the launcher as a game package.
bool IsPackageName(const std::string& extractName);
