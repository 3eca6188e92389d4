// Installing the described entries (entry_descriptor.h) other than removals.
#pragma once

#include <cstdint>

#include "update/format/entry_detail.h"
#include "update/session/own_file_source.h"
#include "update/session/plan_run.h"
#include "update/session/read_patch.h"
#include "update/session/run_failure.h"

// A package decoded into the run's folder `workDir` under its name, as a
// plain entry is extracted there (`extractionPath` receives the path), its
// MD5 checked. Reports PG_EXTRACT_BYTES; on failure `failure` is set.
void DecodePackage(OwnFileSource& source, const PayloadEntry& entry, const EntryDetail& detail,
                   uint32_t ordinal, const char* workDir, char (&extractionPath)[UPDATE_PATH_SIZE],
                   RunFailure& failure);

// A plain file or a file at a path, by the way the plan chose for it from
// entry `start` (install_plan.h), with its whole progress (extraction and
// installation reports, the way counted as one file). Each step's result is
// decoded into "<target>.upd-st0" or ".upd-st1" beside the target (they take
// turns) and checked against its MD5; the last entry's result goes into
// "<target>.upd-new", is checked, flushed, and renamed over the target in one
// step, all within one retry budget. A delta reads the installed file (at its
// source path) or the step before it, opened for reading while it is decoded
// and closed before the rename. Decoding or a digest that fails replaces
// nothing and leaves no copy. A target already at its new bytes is left as it
// is and reports no bytes.
void InstallFile(OwnFileSource& source, const PatchContents& patch, const RunPlan& plan,
                 uint32_t start, uint32_t entryCount, RunFailure& failure);
