// The size and MD5 of a file of a release tree or an installed game.
#pragma once

#include <cstdint>
#include <string>

// Reads the file a chunk at a time; false when it cannot be read whole.
bool DigestFile(const std::string& path, uint64_t* size, unsigned char (&md5)[16]);
