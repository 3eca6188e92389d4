#include "update/session/file_stamp.h"

#include "update/files/win32_handle.h"

namespace {

uint64_t Combine(DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; }

}  // namespace

bool FileStamp::SameFileUnchanged(const FileStamp& other) const {
  return taken && other.taken && volume == other.volume && index == other.index &&
         size == other.size && lastWrite == other.lastWrite;
}

FileStamp StampOfHandle(HANDLE file) {
  FileStamp stamp;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return stamp;
  stamp.volume = info.dwVolumeSerialNumber;
  stamp.index = Combine(info.nFileIndexHigh, info.nFileIndexLow);
  stamp.size = Combine(info.nFileSizeHigh, info.nFileSizeLow);
  stamp.lastWrite =
      Combine(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
  stamp.taken = true;
  return stamp;
}

FileStamp StampOfPath(const char* path) {
  UniqueHandle file(CreateFileA(path, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  if (!file.IsValid()) return FileStamp();
  return StampOfHandle(file.Get());
}

bool StampedDigest::DescribesFileAt(const char* path) const {
  return !hex.empty() && stamp.SameFileUnchanged(StampOfPath(path));
}
