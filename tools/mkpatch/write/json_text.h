// JSON string literals for mkpatch's --json output.
#pragma once

#include <string>
#include <vector>

// `utf8` quoted, with '"', '\\' and control characters escaped.
std::string JsonString(const std::string& utf8);
// An array of those.
std::string JsonStrings(const std::vector<std::string>& utf8);
