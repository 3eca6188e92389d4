// The updater's version arithmetic: a version text a.b.c.d becomes the value
// a*1000000000 + b*1000000 + c*1000 + d in wrapping unsigned 32-bit
// arithmetic, read like a "%d.%d.%d.%d" scan (trailing text ignored, a missing
// fourth number counts as -1). Fields are not compared one by one: a fourth
// number of 1000 or more spills into the third.
#pragma once

#include <cstdint>

// False when the text holds fewer than three numbers (empty included).
bool ParseVersionValue(const char* text, uint32_t* value);

// The version gate: base <= installed <= target by value. Refused when any of
// the three texts has fewer than three numbers.
bool IsVersionInRange(const char* installed, const char* base, const char* target);

// What a writer may put in a trailer: exactly four decimal numbers (digits
// only, each at most 2147483647) joined by ".", nothing else.
bool IsWellFormedVersion(const char* text);
