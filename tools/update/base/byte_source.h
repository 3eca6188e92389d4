// Random-access bytes: the updater's own file, an installed file of the game,
// a file mkpatch reads, or memory. Everything that reads a payload or a delta's
// source reads through this, so the readers never see where the bytes lie.
#pragma once

#include <cstddef>
#include <cstdint>

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Reads up to `length` bytes at `offset`; *bytesRead says how many came.
  // False on a read error.
  virtual bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) = 0;
};

// Bytes held in memory (tests, fuzzing). Does not own them.
class MemoryByteSource : public ByteSource {
 public:
  MemoryByteSource(const void* data, size_t size);
  uint64_t Size() const override;
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) override;

 private:
  const unsigned char* data_;
  size_t size_;
};
