// The MD5 of decoded bytes, taken on their way to wherever they go: every
// entry's result is checked against the MD5 its descriptor records before it
// replaces anything.
#pragma once

#include <cstdint>

#include "update/base/md5.h"
#include "update/codec/entry_codec.h"

class DigestSink : public DecodeSink {
 public:
  // `next` takes the bytes after they are hashed; null when only their MD5
  // is wanted.
  explicit DigestSink(DecodeSink* next) : next_(next) {}

  bool Write(const unsigned char* data, uint32_t length) override;
  // The MD5 of everything written; the sink takes no more bytes after it.
  void Finish(unsigned char (&md5)[16]);

 private:
  DecodeSink* next_;
  MD5 digest_;
};
