// Decoding a described entry's stored bytes into a file the run has just
// created: streamed through the codec, the MD5 of every byte taken on the
// way, and PG_EXTRACT_BYTES reported after each EXTRACT_CHUNK_SIZE bytes of
// decoded output and for the last part, as many reports with the same
// counters as a stored entry of the decoded size gives.
#pragma once

#include <windows.h>

#include "update/codec/entry_codec.h"
#include "update/format/entry_detail.h"
#include "update/session/run_failure.h"

struct DecodedFile {
  DecodeError error = DecodeError::None;  // SinkFailed: the file refused a write
  DWORD writeError = 0;                   // the system's reason, for SinkFailed
  bool digestMatches = false;             // what was written has the descriptor's MD5

  bool Succeeded() const { return error == DecodeError::None && digestMatches; }
};

// How far a file has come when an entry begins, of all the bytes its way
// decodes: progress counts the way as one file.
struct WayProgress {
  uint64_t done = 0;
  uint64_t total = 0;
};

// Decodes `entry`'s stored bytes from `payload` into `out`, against
// `deltaSource` (the installed file, or a step's result) for a delta, null
// otherwise; a second thread may read `deltaSource` beside this one. Counters too large for the
// reports' 32 bits are scaled down alike, so the bar still runs from start to end.
DecodedFile DecodeEntryToFile(ByteSource& payload, const PayloadEntry& entry,
                              const EntryDetail& detail, ByteSource* deltaSource, HANDLE out,
                              const WayProgress& progress);

// Sets `failure` for a decoding that did not succeed, naming `path`, the
// file it was meant to become; the log gets the check that refused it.
void SetDecodeFailure(const DecodedFile& decoded, const char* path, RunFailure& failure);
