#include "encoded_entries.h"

#include <gtest/gtest.h>

#include "mkpatch/codec/entry_encoder.h"
#include "update/base/gbk_text.h"

namespace {

const unsigned char* Bytes(const std::string& text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

PayloadFile Described(const std::string& name, EntryKind kind, const std::string& path,
                      const std::string& bytes, const EncodedData& encoded) {
  const EntryDescriptor descriptor = DescribeFile(kind, encoded.coding, bytes, path);
  return DescribedFile(name, descriptor, std::string(encoded.bytes.begin(), encoded.bytes.end()));
}

EncodedData Compressed(const std::string& name, const std::string& bytes) {
  EncodedData encoded = EncodeWhole(Bytes(bytes), bytes.size());
  EXPECT_EQ(encoded.coding, EntryCoding::Zstd) << name << ": the encoder did not compress";
  return encoded;
}

}  // namespace

std::string LastPart(const std::string& path) {
  const char* separator = FindLastSeparator(path.c_str(), "\\/");
  return separator != nullptr ? std::string(separator + 1) : path;
}

PayloadFile PathFileEntry(const std::string& path, const std::string& bytes, EntryCoding coding) {
  // Stored or compressed: a delta needs the installed file (DeltaEntry).
  EncodedData encoded;
  if (coding == EntryCoding::Stored) {
    encoded.bytes.assign(bytes.begin(), bytes.end());
  } else {
    encoded = Compressed(path, bytes);
  }
  return Described(LastPart(path), EntryKind::PathFile, path, bytes, encoded);
}

namespace {

// A delta the encoder made, with the descriptor fields a test gives it.
PayloadFile EncodedDelta(const std::string& path, const std::string& old,
                         const std::string& bytes, const std::string& sourcePath, uint8_t flags) {
  const EncodedData encoded = EncodeChanged(Bytes(old), old.size(), Bytes(bytes), bytes.size());
  EXPECT_EQ(encoded.coding, EntryCoding::Delta) << path << ": the encoder chose another coding";
  EntryDescriptor descriptor = DescribeFile(EntryKind::PathFile, encoded.coding, bytes, path);
  DescribeSource(descriptor, old);
  descriptor.sourcePath = sourcePath;
  descriptor.flags = flags;
  return DescribedFile(LastPart(path), descriptor,
                       std::string(encoded.bytes.begin(), encoded.bytes.end()));
}

}  // namespace

PayloadFile DeltaEntry(const std::string& path, const std::string& old, const std::string& bytes,
                       const std::string& sourcePath) {
  return EncodedDelta(path, old, bytes, sourcePath, 0);
}

PayloadFile StepEntry(const std::string& path, const std::string& old, const std::string& next) {
  return EncodedDelta(path, old, next, std::string(), ENTRY_FLAG_STEP);
}

PayloadFile CompressedPlainFile(const std::string& name, const std::string& bytes) {
  return Described(name, EntryKind::PlainFile, std::string(), bytes, Compressed(name, bytes));
}

PayloadFile CompressedPackage(const std::string& name, const std::string& bytes) {
  return Described(name, EntryKind::Package, std::string(), bytes, Compressed(name, bytes));
}

PayloadFile RemovalEntry(const std::string& path, const std::string& old) {
  return DescribedFile(LastPart(path), DescribeRemoval(path, old), std::string());
}

std::string Compressible(size_t size, unsigned seed) {
  std::string text;
  for (unsigned line = 0; text.size() < size; ++line) {
    text += "item " + std::to_string(seed) + "." + std::to_string(line % 97) + " = value\r\n";
  }
  text.resize(size);
  return text;
}
