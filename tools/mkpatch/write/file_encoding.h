// Reading files and encoding them as the data of descriptor entries. Files
// up to kStreamedEncodeThreshold are encoded whole in memory; larger ones are
// read as they are encoded, in bounded memory (streamed_encoder.h). Memory
// can still run out (mkpatch.exe is a 32-bit program): that comes back as
// OutOfMemory for the caller to say so and stop, never as a crash.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mkpatch/codec/entry_encoder.h"
#include "update/format/entry_descriptor.h"

struct EncodedEntry {
  // Coding, decoded size and MD5, and for a delta the source's size and MD5;
  // the caller sets the kind and the path.
  EntryDescriptor descriptor;
  std::vector<unsigned char> stored;  // what follows the descriptor
};

enum class EncodeStatus {
  Done,
  Unreadable,   // a file could not be read, or its size changed meanwhile
  OutOfMemory,  // the file or its encoding does not fit in memory
};

// The file stored as it is or compressed, whichever is smaller.
EncodeStatus EncodeFileWhole(const std::string& path, uint64_t size, const EncodeProgress& progress,
                             EncodedEntry* entry);

// The smallest of a delta against `oldPath` and the whole encodings of `newPath`.
EncodeStatus EncodeFileChange(const std::string& oldPath, uint64_t oldSize,
                              const std::string& newPath, uint64_t newSize,
                              const EncodeProgress& progress, EncodedEntry* entry);
