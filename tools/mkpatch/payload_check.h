// Everything mkpatch can say about an updater file or package: what the
// updater itself would refuse, and what a sound writer never produces.
#pragma once

#include <string>
#include <vector>

#include "payload_table.h"

struct PayloadReport {
  uint64_t fileSize = 0;
  bool trailerRead = false;
  PatchTrailer trailer{};
  PayloadTable table;
  // Faults that stop the updater (or that it would extract unsafely).
  std::vector<std::string> structuralProblems;
  // Faults only a careless writer makes: versions, gaps, clashing names.
  std::vector<std::string> writerProblems;

  bool Readable() const { return structuralProblems.empty(); }
};

PayloadReport InspectPayload(PayloadSource& source);

// Whether the updater hands the entry to the launcher as a game package.
bool IsPackageName(const std::string& extractName);
