// Described entries for the engine tests, their stored bytes made by
// mkpatch's encoder: the coding a test asks for is checked to be the one the
// encoder chose, so that each test runs the decoding it means to.
#pragma once

#include <string>

#include "payload_builder.h"

// A file at `path` in the game directory holding `bytes`: stored as they
// are, or compressed whole (for bytes that compress).
PayloadFile PathFileEntry(const std::string& path, const std::string& bytes, EntryCoding coding);
// The same as a delta against `old`, the installed file (for similar files
// that do not compress well on their own): the one at `path`, or the one at
// `sourcePath` that the new build renamed.
PayloadFile DeltaEntry(const std::string& path, const std::string& old, const std::string& bytes,
                       const std::string& sourcePath = std::string());
// A step of the file at `path`: a delta from `old` to `next`, the bytes of a
// later build, which another delta of the file turns into its new bytes.
PayloadFile StepEntry(const std::string& path, const std::string& old, const std::string& next);
// A plain file, landing in the game directory under its name's last part,
// and a game package for the launcher; both compressed (of bytes that compress).
PayloadFile CompressedPlainFile(const std::string& name, const std::string& bytes);
PayloadFile CompressedPackage(const std::string& name, const std::string& bytes);
// The removal of the file at `path` when it holds `old`.
PayloadFile RemovalEntry(const std::string& path, const std::string& old);

// The last part of a path, the name an entry of a file at that path has.
std::string LastPart(const std::string& path);

// `size` bytes of text-like lines that compress well, differing with `seed`.
std::string Compressible(size_t size, unsigned seed);
