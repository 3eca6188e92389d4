// Installing the described entries (entry_descriptor.h) other than removals.
#pragma once

#include <cstdint>

#include "update/format/entry_detail.h"
#include "update/session/own_file_source.h"
#include "update/session/plan_run.h"
#include "update/session/run_failure.h"

// A package decoded into the run's folder `workDir` under its name, as a
// plain entry is extracted there (`extractionPath` receives the path), its
// MD5 checked. Reports PG_EXTRACT_BYTES; on failure `failure` is set.
void DecodePackage(OwnFileSource& source, const PayloadEntry& entry, const EntryDetail& detail,
                   uint32_t ordinal, const char* workDir, char (&extractionPath)[UPDATE_PATH_SIZE],
                   RunFailure& failure);

// A plain file or a file at a path, with its whole progress (extraction and
// installation reports). Decoded straight into "<target>.upd-new" beside the
// target (for a delta, against its installed source, opened for reading
// while it is decoded and closed before the rename), its MD5 checked,
// flushed, then renamed over the target in one step, all within one retry
// budget. Decoding or a digest that fails replaces nothing and leaves no
// copy. A target already at its new bytes is left as it is and reports no
// bytes.
void InstallDescribedFile(OwnFileSource& source, const PayloadEntry& entry,
                          const EntryDetail& detail, const EntryTarget& target, uint32_t ordinal,
                          uint32_t entryCount, RunFailure& failure);
