#include "host_hooks.h"

#include <windows.h>

#include <atomic>

namespace {

uint32_t RealOwnPath(char* buffer, uint32_t size) {
  return GetModuleFileNameA(nullptr, buffer, size);
}

void RealWarning(const char* text) { MessageBoxA(nullptr, text, "更新补丁提示", MB_ICONWARNING); }

// Set by tests before the code under test runs; read from any thread.
std::atomic<OwnPathProvider> g_ownPathProvider{nullptr};
std::atomic<WarningSink> g_warningSink{nullptr};
std::atomic<OwnerWindowProvider> g_ownerWindowProvider{nullptr};

}  // namespace

void SetOwnPathProvider(OwnPathProvider provider) { g_ownPathProvider = provider; }
void SetWarningSink(WarningSink sink) { g_warningSink = sink; }
void SetOwnerWindowProvider(OwnerWindowProvider provider) { g_ownerWindowProvider = provider; }

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
