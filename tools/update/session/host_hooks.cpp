#include "update/session/host_hooks.h"

#include <windows.h>

#include <atomic>

namespace {

uint32_t RealOwnPath(char* buffer, uint32_t size) {
  return GetModuleFileNameA(nullptr, buffer, size);
}

void RealWarning(const char* text) { MessageBoxA(nullptr, text, "更新补丁提示", MB_ICONWARNING); }

bool RealFreeSpace(const char* directory, uint64_t* freeBytes) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExA(directory, &available, nullptr, nullptr)) return false;
  *freeBytes = available.QuadPart;
  return true;
}

uint32_t RealPathAttributes(const char* path) { return GetFileAttributesA(path); }

// Set by tests before the code under test runs; read from any thread.
std::atomic<OwnPathProvider> g_ownPathProvider{nullptr};
std::atomic<WarningSink> g_warningSink{nullptr};
std::atomic<OwnerWindowProvider> g_ownerWindowProvider{nullptr};
std::atomic<FreeSpaceProvider> g_freeSpaceProvider{nullptr};
std::atomic<PathAttributesProvider> g_pathAttributesProvider{nullptr};

}  // namespace

void SetOwnPathProvider(OwnPathProvider provider) { g_ownPathProvider = provider; }
void SetWarningSink(WarningSink sink) { g_warningSink = sink; }
void SetOwnerWindowProvider(OwnerWindowProvider provider) { g_ownerWindowProvider = provider; }
void SetFreeSpaceProvider(FreeSpaceProvider provider) { g_freeSpaceProvider = provider; }
void SetPathAttributesProvider(PathAttributesProvider provider) {
  g_pathAttributesProvider = provider;
}

uint32_t GetOwnPath(char* buffer, uint32_t size) {
  OwnPathProvider provider = g_ownPathProvider.load();
  return provider ? provider(buffer, size) : RealOwnPath(buffer, size);
}

void ShowWarning(const char* text) {
  WarningSink sink = g_warningSink.load();
  if (sink) {
    sink(text);
  } else {
    RealWarning(text);
  }
}

void* GetOwnerWindow() {
  OwnerWindowProvider provider = g_ownerWindowProvider.load();
  return provider ? provider() : nullptr;
}

bool QueryFreeSpace(const char* directory, uint64_t* freeBytes) {
  FreeSpaceProvider provider = g_freeSpaceProvider.load();
  return provider ? provider(directory, freeBytes) : RealFreeSpace(directory, freeBytes);
}

uint32_t QueryPathAttributes(const char* path) {
  PathAttributesProvider provider = g_pathAttributesProvider.load();
  return provider ? provider(path) : RealPathAttributes(path);
}
