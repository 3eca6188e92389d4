// Everything mkpatch can say about an updater file or package: what the
// updater itself would refuse, and what a sound writer never produces.
#pragma once

#include <string>
#include <vector>

#include "update/format/entry_detail.h"
#include "update/format/payload_digest.h"
#include "update/format/payload_table.h"
#include "update/format/signed_image.h"

struct PayloadReport {
  uint64_t fileSize = 0;  // on disk
  // A file signed after it was built is read only up to its signature.
  PeSignature signature;
  uint64_t payloadEnd = 0;  // where the trailer ends; fileSize when unsigned
  bool trailerRead = false;
  PatchTrailer trailer{};
  PayloadTable table;
  // One per entry of a sound table: marking and descriptor.
  std::vector<EntryDetail> details;
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

// Reads a signed updater as the updater itself does: up to its signature.
PayloadReport InspectPayload(ByteSource& file);
