// The C++ stream side of MD5. A file of its own, so that a program that
// digests only bytes and FILEs (the updater) links none of the stream and
// locale code.
#include <istream>
#include <ostream>

#include "update/base/md5.h"

MD5::MD5(std::istream& stream) {
  init();
  update(stream);
  finalize();
}

void MD5::update(std::istream& stream) {
  unsigned char chunk[1024];
  while (stream.good()) {
    stream.read(reinterpret_cast<char*>(chunk), sizeof chunk);
    update(chunk, static_cast<uint32_t>(stream.gcount()));
  }
}

std::ostream& operator<<(std::ostream& stream, MD5 context) {
  return stream << context.hex_digest();
}
