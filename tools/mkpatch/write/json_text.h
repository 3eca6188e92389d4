// JSON string literals for mkpatch's --json output.
#pragma once

#include <string>

// `utf8` quoted, with '"', '\\' and control characters escaped.
std::string JsonString(const std::string& utf8);
