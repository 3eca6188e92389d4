#include "update/session/own_file_source.h"

#include "update/files/handle_read.h"
#include "update/format/signed_image.h"

SystemResult OwnFileSource::Open(const char* path) {
  file_.Reset(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file_.IsValid()) return SystemResult::OfLastError();
  LARGE_INTEGER size;
  fileSize_ = GetFileSizeEx(file_.Get(), &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
  size_ = fileSize_;
  // Signed after it was built: the signature follows the trailer.
  size_ = PayloadEnd(*this, ReadPeSignature(*this));
  return SystemResult::Ok();
}

bool OwnFileSource::Seek(uint64_t offset) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file_.Get(), position, nullptr, FILE_BEGIN) != FALSE;
}

bool OwnFileSource::ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) {
  // Nothing past the updater's own bytes: a signature is no part of the payload.
  return ReadBelow(size_, offset, buffer, length, bytesRead);
}

bool OwnFileSource::ReadBelow(uint64_t end, uint64_t offset, void* buffer, uint32_t length,
                              uint32_t* bytesRead) {
  *bytesRead = 0;
  if (offset >= end) return true;
  if (length > end - offset) length = static_cast<uint32_t>(end - offset);
  return ReadHandleAt(file_.Get(), offset, buffer, length, bytesRead);
}
