// Whole-file reads and writes for the tests and benchmarks. Portable.
#pragma once

#include <string>
#include <vector>

// The file's bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// Replaces the file with `bytes`; false when that failed.
bool WriteWholeFile(const std::string& path, const std::string& bytes);
bool WriteWholeFile(const std::string& path, const std::vector<unsigned char>& bytes);
