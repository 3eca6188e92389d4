// GoogleTest echoes every failure through OutputDebugStringA, which raises a
// structured exception. Where Wine's 32-bit loader runs under qemu's user-mode
// emulator, raising one kills the process, so a failing check would take its
// whole test program down before the summary. Test programs therefore bind
// OutputDebugStringA to a function that drops the text. Test-only, MinGW-only.
#include <windows.h>

namespace {
void WINAPI DropDebugString(LPCSTR) {}
}  // namespace

#if defined(__GNUC__) && defined(__i386__)
extern "C" void(WINAPI* const ImportedOutputDebugStringA)(LPCSTR) __asm__(
    "__imp__OutputDebugStringA@4");
extern "C" void(WINAPI* const ImportedOutputDebugStringA)(LPCSTR) = DropDebugString;
#endif
