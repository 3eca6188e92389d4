#include "update/session/installed_file.h"

#include <cstring>
#include <memory>
#include <new>

#include "update/base/md5.h"
#include "update/files/file_retry.h"
#include "update/files/handle_read.h"

namespace {

constexpr uint32_t kDigestChunk = 64 * 1024;

bool Matches(const unsigned char (&md5)[ENTRY_DIGEST_SIZE], uint64_t size,
             const unsigned char (&expected)[ENTRY_DIGEST_SIZE], uint64_t expectedSize) {
  return size == expectedSize && std::memcmp(md5, expected, ENTRY_DIGEST_SIZE) == 0;
}

}  // namespace

bool InstalledFile::Open(const char* path) {
  file_.Reset(RetryingCreateFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN));
  if (!file_.IsValid()) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file_.Get(), &size)) {
    const DWORD error = GetLastError();
    file_.Close();
    SetLastError(error);
    return false;
  }
  size_ = static_cast<uint64_t>(size.QuadPart);
  return true;
}

bool InstalledFile::ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) {
  return ReadHandleAt(file_.Get(), offset, buffer, length, bytesRead);
}

bool InstalledFile::Digest(unsigned char (&md5)[ENTRY_DIGEST_SIZE]) {
  std::unique_ptr<unsigned char[]> chunk(new (std::nothrow) unsigned char[kDigestChunk]);
  if (!chunk) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  MD5 digest;
  uint64_t offset = 0;
  while (offset < size_) {
    const uint32_t want =
        size_ - offset < kDigestChunk ? static_cast<uint32_t>(size_ - offset) : kDigestChunk;
    uint32_t got = 0;
    if (!ReadAt(offset, chunk.get(), want, &got)) return false;
    // Shorter than its size said: the file changed under a share mode that forbids it.
    if (got != want) {
      SetLastError(ERROR_HANDLE_EOF);
      return false;
    }
    digest.update(chunk.get(), got);
    offset += got;
  }
  digest.finalize();
  const std::string raw = digest.raw_digest();
  std::memcpy(md5, raw.data(), ENTRY_DIGEST_SIZE);
  return true;
}

InstalledMatch CheckInstalledFile(const char* path, const EntryDescriptor& descriptor) {
  InstalledMatch match;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
    const DWORD error = GetLastError();
    match.unreadable = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    SetLastError(error);
    return match;
  }
  // A folder is no file; a file of neither size is not opened at all.
  const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
      (size != descriptor.decodedSize && size != descriptor.sourceSize)) {
    return match;
  }
  InstalledFile file;
  unsigned char md5[ENTRY_DIGEST_SIZE];
  if (!file.Open(path) || !file.Digest(md5)) {
    const DWORD error = GetLastError();
    file.Close();
    SetLastError(error);
    match.unreadable = true;
    return match;
  }
  match.isResult = Matches(md5, file.Size(), descriptor.decodedMd5, descriptor.decodedSize);
  match.isSource = Matches(md5, file.Size(), descriptor.sourceMd5, descriptor.sourceSize);
  return match;
}
