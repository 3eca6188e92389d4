// Decoding an entry's stored bytes as the updater does, with the MD5 of what
// comes out: the updater decodes into the game, mkpatch extracts and checks
// payloads, both through here.
#pragma once

#include "update/base/byte_source.h"
#include "update/codec/entry_codec.h"
#include "update/format/entry_detail.h"

// `deltaSource` is the installed file a delta applies to (null for other
// codings); `sink` takes the decoded bytes, or null when only their MD5 is
// wanted. `md5` receives the MD5 of what came out, whole or not. `worker`
// (when given) takes part of the work, reading `deltaSource` beside the
// caller.
DecodeError DecodeEntry(ByteSource& payload, const PayloadEntry& entry, const EntryDetail& detail,
                        ByteSource* deltaSource, DecodeSink* sink,
                        unsigned char (&md5)[ENTRY_DIGEST_SIZE], WorkerThread* worker = nullptr);
