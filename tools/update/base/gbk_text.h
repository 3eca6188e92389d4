// Walking ANSI texts in code page 936 (GBK). A double-byte character starts
// with a lead byte 0x81-0xFE and its trail byte may be 0x5C, the backslash, so
// a plain byte search for '\\' would split such a character in two.
#pragma once

#include <string>

bool IsGbkLeadByte(unsigned char byte);

// The next character after `text`: two bytes on for a lead byte followed by a
// trail byte, one otherwise; never past the terminating NUL.
const char* NextChar(const char* text);

// The last character of `text` that is one of `separators` and not the trail
// byte of a double-byte character, or nullptr when there is none.
const char* FindLastSeparator(const char* text, const char* separators);

// FindLastSeparator for one character.
const char* FindLastChar(const char* text, char c);

// A GBK name as Windows' file systems compare it: letters in lower case (the
// ASCII ones and the double-byte Latin, Greek and Cyrillic letters and Roman
// numerals that have both cases in code page 936), '/' taken for '\\', every
// other character as it is.
std::string FoldGbkName(const std::string& gbkName);
