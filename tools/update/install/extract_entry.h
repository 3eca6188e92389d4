// Copying one entry of the payload out into the user's temporary directory.
#pragma once

#include <cstdint>

#include "update/files/win32_handle.h"
#include "update/format/payload_table.h"
#include "update/session/own_file_source.h"
#include "update/session/run_failure.h"
#include "update/session/update_session.h"

// Bytes copied per read and write, and per PG_EXTRACT_BYTES report.
constexpr uint32_t EXTRACT_CHUNK_SIZE = 4096;

// Extracts `entry` (already validated against the file) into the run's
// folder `workDir` under its name; `extractionPath` receives that path.
// Reports PG_EXTRACT_BYTES after every chunk. On failure `failure` is set.
void ExtractEntry(OwnFileSource& source, const PayloadEntry& entry, uint32_t ordinal,
                  const char* workDir, char (&extractionPath)[UPDATE_PATH_SIZE],
                  RunFailure& failure);

// The first step of that, shared with the decoding of a described package:
// composes the path, makes the folders on the way and creates the file
// afresh, open for writing. On failure `failure` is set and the handle owns
// nothing.
UniqueHandle CreateExtractionFile(const PayloadEntry& entry, uint32_t ordinal, const char* workDir,
                                  char (&extractionPath)[UPDATE_PATH_SIZE], RunFailure& failure);
