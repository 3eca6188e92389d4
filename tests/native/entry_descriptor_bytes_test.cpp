// The descriptor's bytes, pinned field by field for each kind: encoding
// gives exactly these bytes, and parsing these bytes gives exactly these
// fields. Round trips alone cannot catch a change made alike on both sides
// (two fields swapped, an offset moved), yet every updater already shipped
// reads the layout written here.
#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "update/format/entry_descriptor.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Each field gets bytes no other field has, so that a field read from
// another's place shows.
void Fill(unsigned char (&digest)[ENTRY_DIGEST_SIZE], unsigned char first) {
  for (size_t i = 0; i < ENTRY_DIGEST_SIZE; ++i) digest[i] = static_cast<unsigned char>(first + i);
}

struct Pinned {
  const char* label;
  EntryDescriptor fields;
  Bytes bytes;
  uint32_t storedSize;  // the entry's bytes after the descriptor
};

std::vector<Pinned> PinnedDescriptors() {
  std::vector<Pinned> pinned;

  EntryDescriptor package;
  package.kind = EntryKind::Package;
  package.coding = EntryCoding::Zstd;
  package.decodedSize = 0x00012345;
  Fill(package.decodedMd5, 0x10);
  pinned.push_back({"package",
                    package,
                    {
                        0x3C, 0x00, 0x00, 0x00,                          // descriptor size: 60
                        0x01,                                            // kind: package
                        0x01,                                            // coding: zstd
                        0x00, 0x00,                                      // path length: none
                        0x45, 0x23, 0x01, 0x00,                          // decoded size
                        0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,  // decoded MD5
                        0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,  //
                        0x00, 0x00, 0x00, 0x00,                          // source size: none
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // source MD5: none
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
                        0x00, 0x00,                                      // source path length
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // reserved
                    },
                    1000});

  EntryDescriptor plain;
  plain.kind = EntryKind::PlainFile;
  plain.coding = EntryCoding::ZstdX86;
  plain.decodedSize = 0x0A0B0C0D;
  Fill(plain.decodedMd5, 0x20);
  pinned.push_back({"plain file",
                    plain,
                    {
                        0x3C, 0x00, 0x00, 0x00,  // descriptor size: 60
                        0x02,                    // kind: plain file
                        0x03,                    // coding: zstd of x86-converted code
                        0x00, 0x00,              // path length: none
                        0x0D, 0x0C, 0x0B, 0x0A,  // decoded size
                        0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27,  // decoded MD5
                        0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,  //
                        0x00, 0x00, 0x00, 0x00,                          // source size: none
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // source MD5: none
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
                        0x00, 0x00,                                      // source path length
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // reserved
                    },
                    77});

  EntryDescriptor whole;
  whole.kind = EntryKind::PathFile;
  whole.coding = EntryCoding::Stored;
  whole.decodedSize = 5;
  Fill(whole.decodedMd5, 0x30);
  whole.path = "d\\x.ini";
  pinned.push_back({"file at a path, stored",
                    whole,
                    {
                        0x43, 0x00, 0x00, 0x00,                          // descriptor size: 60 + 7
                        0x03,                                            // kind: file at a path
                        0x00,                                            // coding: stored
                        0x07, 0x00,                                      // path length
                        0x05, 0x00, 0x00, 0x00,                          // decoded size
                        0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37,  // decoded MD5
                        0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,  //
                        0x00, 0x00, 0x00, 0x00,                          // source size: none
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // source MD5: none
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
                        0x00, 0x00,                                      // source path length
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // reserved
                        'd',  '\\', 'x',  '.',  'i',  'n',  'i',                     // path
                    },
                    5});

  // A delta against the file the new build renamed: the source path follows
  // the path. The path holds a GBK character whose second byte is '\'.
  EntryDescriptor delta;
  delta.kind = EntryKind::PathFile;
  delta.coding = EntryCoding::Delta;
  delta.decodedSize = 0x00102030;
  Fill(delta.decodedMd5, 0x40);
  delta.sourceSize = 0x00405060;
  Fill(delta.sourceMd5, 0x50);
  delta.path = "b\\\xB5\x5C.dll";
  delta.sourcePath = "b\\a.dll";
  pinned.push_back({"file at a path, delta from another path",
                    delta,
                    {
                        0x4B, 0x00, 0x00, 0x00,  // descriptor size: 60 + 8 + 7
                        0x03,                    // kind: file at a path
                        0x02,                    // coding: delta
                        0x08, 0x00,              // path length
                        0x30, 0x20, 0x10, 0x00,  // decoded size
                        0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47,  // decoded MD5
                        0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,  //
                        0x60, 0x50, 0x40, 0x00,                          // source size
                        0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57,  // source MD5
                        0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F,  //
                        0x07, 0x00,                                      // source path length
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // reserved
                        'b',  '\\', 0xB5, 0x5C, '.',  'd',  'l',  'l',               // path
                        'b',  '\\', 'a',  '.',  'd',  'l',  'l',                     // source path
                    },
                    300});

  EntryDescriptor removal;
  removal.kind = EntryKind::Removal;
  removal.coding = EntryCoding::Stored;
  removal.sourceSize = 0x01020304;
  Fill(removal.sourceMd5, 0x60);
  removal.path = "old.dll";
  pinned.push_back({"removal",
                    removal,
                    {
                        0x43, 0x00, 0x00, 0x00,  // descriptor size: 60 + 7
                        0x04,                    // kind: removal
                        0x00,                    // coding: stored (nothing is)
                        0x07, 0x00,              // path length
                        0x00, 0x00, 0x00, 0x00,  // decoded size: none
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // decoded MD5: none
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
                        0x04, 0x03, 0x02, 0x01,                          // source size
                        0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67,  // source MD5
                        0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,  //
                        0x00, 0x00,                                      // source path length
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // reserved
                        'o',  'l',  'd',  '.',  'd',  'l',  'l',                     // path
                    },
                    0});
  return pinned;
}

std::string Hex(const unsigned char* bytes, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 0x0F];
  }
  return text;
}

TEST(EntryDescriptorBytes, EncodingGivesExactlyThePinnedBytes) {
  for (const Pinned& p : PinnedDescriptors()) {
    const Bytes encoded = EncodeEntryDescriptor(p.fields);
    ASSERT_EQ(encoded.size(), p.bytes.size()) << p.label;
    for (size_t at = 0; at < encoded.size(); ++at) {
      EXPECT_EQ(encoded[at], p.bytes[at]) << p.label << ", byte " << at;
    }
  }
}

TEST(EntryDescriptorBytes, ParsingThePinnedBytesGivesExactlyTheirFields) {
  for (const Pinned& p : PinnedDescriptors()) {
    const uint32_t entrySize = static_cast<uint32_t>(p.bytes.size()) + p.storedSize;
    EntryDescriptor parsed;
    uint32_t size = 0;
    ASSERT_EQ(ParseEntryDescriptor(p.bytes.data(), p.bytes.size(), entrySize, &parsed, &size),
              DescriptorError::None)
        << p.label;
    EXPECT_EQ(size, p.bytes.size()) << p.label;
    EXPECT_EQ(parsed.kind, p.fields.kind) << p.label;
    EXPECT_EQ(parsed.coding, p.fields.coding) << p.label;
    EXPECT_EQ(parsed.decodedSize, p.fields.decodedSize) << p.label;
    EXPECT_EQ(Hex(parsed.decodedMd5, ENTRY_DIGEST_SIZE),
              Hex(p.fields.decodedMd5, ENTRY_DIGEST_SIZE))
        << p.label;
    EXPECT_EQ(parsed.sourceSize, p.fields.sourceSize) << p.label;
    EXPECT_EQ(Hex(parsed.sourceMd5, ENTRY_DIGEST_SIZE), Hex(p.fields.sourceMd5, ENTRY_DIGEST_SIZE))
        << p.label;
    EXPECT_EQ(parsed.path, p.fields.path) << p.label;
    EXPECT_EQ(parsed.sourcePath, p.fields.sourcePath) << p.label;
  }
}

// The marking in the name field: the name, its NUL, the 8-byte marker and
// the format, the rest cleared.
TEST(EntryDescriptorBytes, NameMarkingGivesExactlyThePinnedBytes) {
  char field[PATCH_NAME_FIELD_SIZE];
  std::memset(field, 0x55, sizeof field);
  std::memcpy(field, "a.dll", 6);
  ASSERT_TRUE(WriteNameMarking(field));
  Bytes expected = {
      'a',  '.', 'd', 'l', 'l', 0x00,             // the name and its NUL
      0xD7, 'E', 'N', 'T', 'K', 'N',  'D', 0x8F,  // marker
      0x01,                                       // format
  };
  expected.resize(PATCH_NAME_FIELD_SIZE, 0x00);
  EXPECT_EQ(Bytes(field, field + sizeof field), expected);
  EXPECT_EQ(ReadNameMarking(reinterpret_cast<const char*>(expected.data())),
            NameMarking::Descriptor);
}

}  // namespace
