#include "md5_hex.h"

#include <cstdint>

#include "update/base/md5.h"

std::string Md5Hex(const std::string& bytes) {
  MD5 md5;
  md5.update(reinterpret_cast<const unsigned char*>(bytes.data()),
             static_cast<uint32_t>(bytes.size()));
  md5.finalize();
  return md5.hex_digest();
}
