// Which programs hold a file open, as the system's Restart Manager knows it,
// for the log line of a file the run gave up waiting for. rstrtmgr.dll is
// loaded only when asked, so the updater imports no more than it did; where
// it is missing or does not answer (older systems, Wine's stub) the answer is
// "unknown".
#pragma once

#include <cstddef>

// Writes the names of the programs holding `path` ("a.exe 1234, b.exe 99",
// each with its process id) into `buffer`, cut to fit. False, with an empty
// buffer, when the system cannot tell.
bool DescribeFileHolders(const char* path, char* buffer, size_t size);
