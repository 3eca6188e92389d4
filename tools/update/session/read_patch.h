// The first phase of an update run: the updater's own file read and checked
// before anything is planned or written. Its trailer, the version gate, the
// whole entry table, the payload digest and every entry's descriptor: a
// damaged download or an installation of another version is refused here.
#pragma once

#include <string>
#include <vector>

#include "update/format/entry_detail.h"
#include "update/format/payload.h"
#include "update/format/payload_table.h"
#include "update/session/own_file_source.h"
#include "update/session/run_failure.h"
#include "update/session/run_outcome.h"
#include "update/session/update_session.h"

// The failure text of a malformed descriptor or a broken group of entries:
// the entry's number and the check (DescriptorError) that refused it.
extern const char DESCRIPTOR_BAD_TEXT[];

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

// One read of the updater's own file for both of its digests: `whole` is
// every byte of it, `payload` its payload bytes (OwnFileSource). A payload
// whose trailer carries a digest must hash to it whole before anything is
// extracted: a damaged download is refused, not installed. The text gives
// the bytes hashed and the region's length (equal unless the file ended
// early). Returns the whole file's MD5 as 32 hex digits, taken with or
// without a record, for the journal and the version record. A file that
// cannot be read whole fails the run (`failure` set, without a text) and
// gives "".
std::string DigestOwnFile(ByteSource& payload, ByteSource& whole, const PatchTrailer& trailer,
                          RunFailure& failure);
