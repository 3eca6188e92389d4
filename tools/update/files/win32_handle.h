// The Win32 kinds of handle the programs open, each an alias of the one owner
// template, so that every early return closes what was opened.
#pragma once

#include <windows.h>

#include "update/base/unique_resource.h"

inline bool CloseKernelHandle(HANDLE handle) { return CloseHandle(handle) != FALSE; }
inline bool CloseFindHandle(HANDLE handle) { return FindClose(handle) != FALSE; }
inline bool CloseRegKey(HKEY key) { return RegCloseKey(key) == ERROR_SUCCESS; }
inline bool CloseModule(HMODULE module) { return FreeLibrary(module) != FALSE; }
// Memory the system allocated with LocalAlloc for the caller (argument vectors).
inline bool FreeLocalArgv(LPWSTR* argv) { return LocalFree(argv) == nullptr; }

// CreateFileA and FindFirstFileA fail with INVALID_HANDLE_VALUE, most other
// calls with null: neither owns anything.
struct KernelHandleValues {
  static HANDLE Empty() { return nullptr; }
  static bool Owns(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
};

using UniqueHandle = UniqueResource<HANDLE, CloseKernelHandle, KernelHandleValues>;
using UniqueFindHandle = UniqueResource<HANDLE, CloseFindHandle, KernelHandleValues>;
using UniqueRegKey = UniqueResource<HKEY, CloseRegKey>;
using UniqueModule = UniqueResource<HMODULE, CloseModule>;
using UniqueLocalArgv = UniqueResource<LPWSTR*, FreeLocalArgv>;
