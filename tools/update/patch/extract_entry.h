// Copying one entry of the payload out into the user's temporary directory.
#pragma once

#include <cstdint>

#include "own_file_source.h"
#include "payload_table.h"
#include "run_failure.h"
#include "update_session.h"

// Bytes copied per read and write, and per PG_EXTRACT_BYTES report.
constexpr uint32_t EXTRACT_CHUNK_SIZE = 4096;

// Extracts `entry` (already validated against the file) into the run's
// folder `workDir` under its name; `extractionPath` receives that path.
// Reports PG_EXTRACT_BYTES after every chunk. On failure `failure` is set.
void ExtractEntry(OwnFileSource& source, const PayloadEntry& entry, uint32_t ordinal,
                  const char* workDir, char (&extractionPath)[UPDATE_PATH_SIZE],
                  RunFailure& failure);
