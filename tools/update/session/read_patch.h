// The first phase of an update run: the updater's own file read and checked
// before anything is planned or written. Its trailer, the version gate, the
// whole entry table, the payload digest and every entry's descriptor: a
// damaged download or an installation of another version is refused here.
#pragma once

#include <vector>

#include "update/format/entry_detail.h"
#include "update/format/payload.h"
#include "update/format/payload_table.h"
#include "update/session/own_file_source.h"
#include "update/session/run_failure.h"
#include "update/session/run_outcome.h"
#include "update/session/update_session.h"

// What the run found in its own file.
struct PatchContents {
  PatchTrailer trailer = {};
  PayloadTable table;
  std::vector<EntryDetail> details;  // one per table entry
};

// Opens the updater's own file into `source` and checks it as above. The
// session receives the two versions (taken from whatever trailer was read,
// before it is checked) and the MD5 of the own file for the version record.
// False with `failure` set; checks.versionOk says whether the gate let the
// run through.
bool ReadPatch(UpdateSession& session, OwnFileSource& source, PatchContents* patch,
               RunChecks& checks, RunFailure& failure);
