#include "update/files/handle_read.h"

bool ReadHandleAt(HANDLE file, uint64_t offset, void* buffer, uint32_t length,
                  uint32_t* bytesRead) {
  *bytesRead = 0;
  unsigned char* out = static_cast<unsigned char*>(buffer);
  // ReadFile may deliver less than asked before the end of the file. Each
  // call names its own position instead of moving the file's pointer, so
  // that two threads may read one handle at once.
  while (*bytesRead < length) {
    const uint64_t at = offset + *bytesRead;
    OVERLAPPED position = {};
    position.Offset = static_cast<DWORD>(at);
    position.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    if (!ReadFile(file, out + *bytesRead, length - *bytesRead, &got, &position)) {
      // A synchronous handle read at or past its end says so as an error.
      return GetLastError() == ERROR_HANDLE_EOF;
    }
    if (got == 0) break;
    *bytesRead += got;
  }
  return true;
}
