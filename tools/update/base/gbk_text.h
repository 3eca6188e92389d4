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

// A GBK name as Windows' file systems compare it: ASCII letters in lower
// case, '/' taken for '\\', double-byte characters as they are.
std::string FoldGbkName(const std::string& gbkName);
