#include "update/codec/digest_sink.h"

#include <cstring>
#include <string>

bool DigestSink::Write(const unsigned char* data, uint32_t length) {
  digest_.update(data, length);
  return next_ == nullptr || next_->Write(data, length);
}

void DigestSink::Finish(unsigned char (&md5)[16]) {
  digest_.finalize();
  const std::string raw = digest_.raw_digest();
  std::memcpy(md5, raw.data(), sizeof md5);
}
