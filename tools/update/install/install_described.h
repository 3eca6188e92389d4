// Installing the described entries (entry_descriptor.h) other than removals.
#pragma once

#include <cstdint>

#include "update/format/entry_detail.h"
#include "update/install/staging.h"
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

// A plain file or a file at a path staged by the way the plan chose for it
// from entry `start` (install_plan.h), with its whole progress (extraction
// and installation reports, the way counted as one file). Each step's result
// is decoded into "<target>.upd-st0" or ".upd-st1" beside the target (they
// take turns) and checked against its MD5; the last entry's result goes into
// "<target>.upd-new", is checked and flushed, and waits there for the commit
// (commit.h), named to `staging`. A delta reads the installed file (at its
// source path) or the step before it. Decoding or a digest that fails leaves
// no copy. A target already at its new bytes is left as it is, reports no
// bytes, and is not staged.
void StageFile(OwnFileSource& source, const PatchContents& patch, const RunPlan& plan,
               uint32_t start, uint32_t entryCount, Staging& staging, RunFailure& failure);
