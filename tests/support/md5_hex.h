// The MD5 of bytes held in memory, as 32 lowercase hex digits. Portable.
#pragma once

#include <string>

std::string Md5Hex(const std::string& bytes);
