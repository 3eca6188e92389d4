#include "own_file_source.h"

#include "signed_image.h"

bool OwnFileSource::Open(const char* path) {
  file_.Reset(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file_.IsValid()) {
    openError_ = GetLastError();
    return false;
  }
  LARGE_INTEGER size;
  size_ = GetFileSizeEx(file_.Get(), &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
  // Signed after it was built: the signature follows the trailer.
  size_ = PayloadEnd(*this, ReadPeSignature(*this));
  return true;
}

bool OwnFileSource::Seek(uint64_t offset) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file_.Get(), position, nullptr, FILE_BEGIN) != FALSE;
}

bool OwnFileSource::ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) {
  *bytesRead = 0;
  // Nothing past the updater's own bytes: a signature is no part of the payload.
  if (offset >= size_) return true;
  if (length > size_ - offset) length = static_cast<uint32_t>(size_ - offset);
  if (!Seek(offset)) return false;
  unsigned char* out = static_cast<unsigned char*>(buffer);
  // ReadFile may deliver less than asked before the end of the file.
  while (*bytesRead < length) {
    DWORD got = 0;
    if (!ReadFile(file_.Get(), out + *bytesRead, length - *bytesRead, &got, nullptr)) return false;
    if (got == 0) break;
    *bytesRead += got;
  }
  return true;
}
