// The places where the updater meets its host and tests need to step in:
// which file is "the program's own file", where warning boxes go, which
// window the game's launcher is handed, how much room a disk has, and which
// paths are links. By default they are the real module path, a real message
// box, no window, the system's free space and the system's attributes; the
// user interface registers its dialog as the launcher's window when it starts.
#pragma once

#include <cstdint>

// Fills `buffer` (capacity `size`) like GetModuleFileNameA(NULL, ...):
// returns the length written, 0 on failure.
typedef uint32_t (*OwnPathProvider)(char* buffer, uint32_t size);
// Shows `text` to the user and returns once it has been acknowledged.
typedef void (*WarningSink)(const char* text);
// The window written into "launch.txt" and given as the owner of the
// launcher's start, as an opaque pointer (an HWND); null for none.
typedef void* (*OwnerWindowProvider)();
// Like GetDiskFreeSpaceExA(directory, &free, ...): the bytes free to the
// caller on the volume of `directory`; false when the system cannot tell.
typedef bool (*FreeSpaceProvider)(const char* directory, uint64_t* freeBytes);
// Like GetFileAttributesA(path): the attributes, or INVALID_FILE_ATTRIBUTES
// (all bits set) when there is nothing at `path`. Consulted where the run
// looks for links (FILE_ATTRIBUTE_REPARSE_POINT), which Wine can neither make
// through the system's calls nor report for a file.
typedef uint32_t (*PathAttributesProvider)(const char* path);

// Passing null restores the real behaviour.
void SetOwnPathProvider(OwnPathProvider provider);
void SetWarningSink(WarningSink sink);
void SetOwnerWindowProvider(OwnerWindowProvider provider);
void SetFreeSpaceProvider(FreeSpaceProvider provider);
void SetPathAttributesProvider(PathAttributesProvider provider);

uint32_t GetOwnPath(char* buffer, uint32_t size);
// MessageBoxA(NULL, text, "更新补丁提示", MB_ICONWARNING) unless redirected.
void ShowWarning(const char* text);
void* GetOwnerWindow();
bool QueryFreeSpace(const char* directory, uint64_t* freeBytes);
uint32_t QueryPathAttributes(const char* path);
