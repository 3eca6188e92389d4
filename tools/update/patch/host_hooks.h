// The two places where the updater meets its host and tests need to step in:
// which file is "the program's own file", and where warning boxes go.
// By default they are the real module path and a real message box.
#pragma once

#include <cstdint>

// Fills `buffer` (capacity `size`) like GetModuleFileNameA(NULL, ...):
// returns the length written, 0 on failure.
typedef uint32_t (*OwnPathProvider)(char* buffer, uint32_t size);
// Shows `text` to the user and returns once it has been acknowledged.
typedef void (*WarningSink)(const char* text);

// Passing null restores the real behaviour.
void SetOwnPathProvider(OwnPathProvider provider);
void SetWarningSink(WarningSink sink);

uint32_t GetOwnPath(char* buffer, uint32_t size);
// MessageBoxA(NULL, text, "更新补丁提示", MB_ICONWARNING) unless redirected.
void ShowWarning(const char* text);
