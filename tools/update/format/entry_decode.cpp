#include "update/format/entry_decode.h"

#include "update/codec/digest_sink.h"

DecodeError DecodeEntry(ByteSource& payload, const PayloadEntry& entry, const EntryDetail& detail,
                        ByteSource* deltaSource, DecodeSink* sink,
                        unsigned char (&md5)[ENTRY_DIGEST_SIZE], WorkerThread* worker) {
  DigestSink digest(sink);
  DecodeRequest request = DecodeRequestFor(payload, entry, detail, deltaSource);
  request.worker = worker;
  const DecodeError error = DecodeEntryData(request, digest);
  digest.Finish(md5);
  return error;
}
