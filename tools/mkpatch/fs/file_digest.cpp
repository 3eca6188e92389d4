#include "mkpatch/fs/file_digest.h"

#include <cstring>
#include <vector>

#include "mkpatch/fs/file_system.h"
#include "update/base/md5.h"

bool DigestFile(const std::string& path, uint64_t* size, unsigned char (&md5)[16]) {
  UniqueFile file = OpenFile(path, "rb");
  if (!file || !FileSize(file.Get(), size)) return false;
  MD5 digest;
  std::vector<unsigned char> chunk(1 << 16);
  for (uint64_t left = *size; left > 0;) {
    const size_t want = left < chunk.size() ? static_cast<size_t>(left) : chunk.size();
    if (std::fread(chunk.data(), 1, want, file.Get()) != want) return false;
    digest.update(chunk.data(), static_cast<uint32_t>(want));
    left -= want;
  }
  digest.finalize();
  std::memcpy(md5, digest.raw_digest().data(), 16);
  return true;
}
