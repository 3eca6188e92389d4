#include "update/files/held_file_owner.h"

#include <windows.h>
#include <restartmanager.h>

#include <cstring>

#include "update/base/bounded_format.h"
#include "update/files/win32_handle.h"

namespace {

typedef DWORD(WINAPI* RmStartSessionFn)(DWORD*, DWORD, WCHAR*);
typedef DWORD(WINAPI* RmRegisterResourcesFn)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT,
                                             LPCWSTR*);
typedef DWORD(WINAPI* RmGetListFn)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, LPDWORD);
typedef DWORD(WINAPI* RmEndSessionFn)(DWORD);

// The programs asked about: more are rare, and the line has little room.
constexpr UINT kMostHolders = 8;

// A Restart Manager session together with the function that ends it, which
// is only known once the library is loaded.
struct RmSession {
  DWORD handle = 0;
  RmEndSessionFn end = nullptr;
};
struct RmSessionValues {
  static RmSession Empty() { return RmSession(); }
  static bool Owns(const RmSession& session) { return session.end != nullptr; }
};
bool EndRmSession(RmSession session) { return session.end(session.handle) == ERROR_SUCCESS; }
using UniqueRmSession = UniqueResource<RmSession, EndRmSession, RmSessionValues>;

template <typename Function>
Function Find(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

bool DescribeFileHolders(const char* path, char* buffer, size_t size) {
  if (size == 0) return false;
  buffer[0] = '\0';
  UniqueModule library(LoadLibraryA("rstrtmgr.dll"));
  if (!library) return false;
  RmStartSessionFn start = Find<RmStartSessionFn>(library.Get(), "RmStartSession");
  RmRegisterResourcesFn registerFiles =
      Find<RmRegisterResourcesFn>(library.Get(), "RmRegisterResources");
  RmGetListFn getList = Find<RmGetListFn>(library.Get(), "RmGetList");
  RmEndSessionFn end = Find<RmEndSessionFn>(library.Get(), "RmEndSession");
  if (start == nullptr || registerFiles == nullptr || getList == nullptr || end == nullptr) {
    return false;
  }

  WCHAR widePath[MAX_PATH];
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH) == 0) return false;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  RmSession opened;
  if (start(&opened.handle, 0, key) != ERROR_SUCCESS) return false;
  opened.end = end;
  UniqueRmSession session(opened);

  LPCWSTR files[] = {widePath};
  if (registerFiles(opened.handle, 1, files, 0, nullptr, 0, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  RM_PROCESS_INFO holders[kMostHolders];
  std::memset(holders, 0, sizeof holders);
  UINT needed = 0;
  UINT count = kMostHolders;
  DWORD reasons = 0;
  const DWORD listed = getList(opened.handle, &needed, &count, holders, &reasons);
  // ERROR_MORE_DATA: more holders than asked for; the first ones are named.
  if ((listed != ERROR_SUCCESS && listed != ERROR_MORE_DATA) || count == 0) return false;
  if (count > kMostHolders) count = kMostHolders;

  size_t used = 0;
  for (UINT i = 0; i < count; ++i) {
    char name[CCH_RM_MAX_APP_NAME + 1] = {};
    WideCharToMultiByte(CP_ACP, 0, holders[i].strAppName, -1, name, sizeof name - 1, nullptr,
                        nullptr);
    if (!FormatFitted(buffer + used, size - used, "%s%s %lu", i == 0 ? "" : ", ",
                      name[0] != '\0' ? name : "?", holders[i].Process.dwProcessId)) {
      break;  // the names that fit stand
    }
    used += std::strlen(buffer + used);
  }
  return buffer[0] != '\0';
}
