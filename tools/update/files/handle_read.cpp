#include "update/files/handle_read.h"

bool ReadHandleAt(HANDLE file, uint64_t offset, void* buffer, uint32_t length,
                  uint32_t* bytesRead) {
  *bytesRead = 0;
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) return false;
  unsigned char* out = static_cast<unsigned char*>(buffer);
  // ReadFile may deliver less than asked before the end of the file.
  while (*bytesRead < length) {
    DWORD got = 0;
    if (!ReadFile(file, out + *bytesRead, length - *bytesRead, &got, nullptr)) return false;
    if (got == 0) break;
    *bytesRead += got;
  }
  return true;
}
