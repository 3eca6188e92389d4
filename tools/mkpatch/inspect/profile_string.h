// Reading one value from an INI file's bytes the way the Win32 profile read
// (GetPrivateProfileStringA) does, in portable code so that mkpatch reads
// the game's Client.ini alike on every platform.
#pragma once

#include <cstddef>
#include <string>

// False (and an empty value) when the section or the key is not there.
// Section and key names compare without regard to ASCII case; the first
// matching section is the only one searched, its first matching key wins.
// Blanks around names (inside the brackets too) and values are dropped, a
// value enclosed in a pair of single or double quotes loses them, and the
// value is cut to `bufferSize` - 1 bytes as the caller's buffer would cut it.
bool ReadProfileString(const std::string& fileBytes, const char* section, const char* key,
                       size_t bufferSize, std::string* value);
