#include "update/session/installed_file.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "update/base/md5.h"
#include "update/files/file_retry.h"
#include "update/files/handle_read.h"

namespace {

constexpr uint32_t kDigestChunk = 64 * 1024;

}  // namespace

SystemResult InstalledFile::Open(const char* path) {
  const SystemResult opened = RetryingCreateFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                                 FILE_FLAG_SEQUENTIAL_SCAN, &file_);
  if (!opened) return opened;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file_.Get(), &size)) {
    const SystemResult failed = SystemResult::OfLastError();
    file_.Close();
    return failed;
  }
  size_ = static_cast<uint64_t>(size.QuadPart);
  return SystemResult::Ok();
}

bool InstalledFile::ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) {
  // The decoder's worker thread reads too: moving the handle's position and
  // reading are one step for the other thread. (A read naming its own
  // position, ReadFile with an OVERLAPPED offset, would need no lock, but
  // under Wine each costs a request to the server: the decoder took three
  // times as long.)
  ScopedLock hold(&reading_);
  return ReadHandleAt(file_.Get(), offset, buffer, length, bytesRead);
}

SystemResult InstalledFile::Digest(unsigned char (&md5)[16]) {
  std::unique_ptr<unsigned char[]> chunk(new (std::nothrow) unsigned char[kDigestChunk]);
  if (!chunk) return SystemResult::Failed(ERROR_NOT_ENOUGH_MEMORY);
  MD5 digest;
  uint64_t offset = 0;
  while (offset < size_) {
    const uint32_t want =
        size_ - offset < kDigestChunk ? static_cast<uint32_t>(size_ - offset) : kDigestChunk;
    uint32_t got = 0;
    if (!ReadAt(offset, chunk.get(), want, &got)) return SystemResult::OfLastError();
    // Shorter than its size said: the file changed under a share mode that forbids it.
    if (got != want) return SystemResult::Failed(ERROR_HANDLE_EOF);
    digest.update(chunk.get(), got);
    offset += got;
  }
  digest.finalize();
  const std::string raw = digest.raw_digest();
  std::memcpy(md5, raw.data(), sizeof md5);
  return SystemResult::Ok();
}

SystemResult FileHolds(const char* path, uint64_t size, const unsigned char (&md5)[16],
                       bool* holds) {
  *holds = false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return SystemResult::Ok();
    return SystemResult::Failed(error);
  }
  const uint64_t found = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || found != size) {
    return SystemResult::Ok();
  }
  InstalledFile file;
  unsigned char actual[16];
  SystemResult result = file.Open(path);
  if (result) result = file.Digest(actual);
  if (!result) return result;
  *holds = file.Size() == size && std::memcmp(actual, md5, sizeof actual) == 0;
  return SystemResult::Ok();
}
