// Registry reads of the dialog: the game's uninstall entry tells where the
// game was installed.
#pragma once

#include <windows.h>

// Reads one value. `size` is the buffer's capacity in bytes on entry and the
// bytes stored on return. Returns the Win32 status of the open when it fails,
// otherwise that of the read.
LONG ReadRegistryValue(HKEY root, const char* subKey, const char* valueName, void* buffer,
                       DWORD* size, DWORD* type);

constexpr size_t UNINSTALL_DIR_SIZE = 260;

// The folder of the game's uninstaller: "UninstallString" of the uninstall
// entry up to its last backslash, or empty without an entry, without a
// backslash, or when the value does not fit (or is not terminated) in 260
// bytes. Quotes and variables are left as they are.
void ReadUninstallDir(char (&dir)[UNINSTALL_DIR_SIZE]);
