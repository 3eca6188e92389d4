#include "payload_builder.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "update/base/md5.h"
#include "update/format/payload_digest.h"
#include "update/format/payload_table.h"

void PutText(char* field, size_t fieldSize, const std::string& text) {
  std::memset(field, 0, fieldSize);
  std::memcpy(field, text.data(), std::min(text.size(), fieldSize));
}

namespace {

std::string EntryHeader(const std::string& name, uint32_t size, bool marked = false,
                        uint8_t format = ENTRY_DESCRIPTOR_FORMAT) {
  PatchEntryHeader header = {};
  PutText(header.name, sizeof header.name, name);
  // A name too long for the marker stays unmarked: the reader then sees a
  // plain entry, as the updater would.
  if (marked) WriteNameMarking(header.name, format);
  header.size = size;
  unsigned char bytes[PATCH_ENTRY_HEADER_SIZE];
  EncodeEntryHeader(header, bytes);
  return std::string(bytes, bytes + sizeof bytes);
}

std::string TrailerBytes(const PatchTrailer& trailer) {
  unsigned char bytes[PATCH_TRAILER_SIZE];
  EncodeTrailer(trailer, bytes);
  return std::string(bytes, bytes + sizeof bytes);
}

void Md5Of(const std::string& bytes, unsigned char (&md5)[ENTRY_DIGEST_SIZE]) {
  MD5 digest;
  digest.update(reinterpret_cast<const unsigned char*>(bytes.data()),
                static_cast<uint32_t>(bytes.size()));
  digest.finalize();
  const std::string raw = digest.raw_digest();
  std::memcpy(md5, raw.data(), ENTRY_DIGEST_SIZE);
}

}  // namespace

EntryDescriptor DescribeFile(EntryKind kind, EntryCoding coding, const std::string& decoded,
                             const std::string& path) {
  EntryDescriptor descriptor;
  descriptor.kind = kind;
  descriptor.coding = coding;
  descriptor.decodedSize = decoded.size();
  Md5Of(decoded, descriptor.decodedMd5);
  descriptor.path = path;
  return descriptor;
}

void DescribeSource(EntryDescriptor& descriptor, const std::string& source) {
  descriptor.sourceSize = source.size();
  Md5Of(source, descriptor.sourceMd5);
}

EntryDescriptor DescribeRemoval(const std::string& path, const std::string& old) {
  EntryDescriptor descriptor;
  descriptor.kind = EntryKind::Removal;
  descriptor.coding = EntryCoding::Stored;
  descriptor.path = path;
  DescribeSource(descriptor, old);
  return descriptor;
}

PayloadFile DescribedFile(const std::string& name, const EntryDescriptor& descriptor,
                          const std::string& stored, size_t repeat) {
  const std::vector<unsigned char> bytes = EncodeEntryDescriptor(descriptor);
  PayloadFile file;
  file.name = name;
  file.data = stored;
  file.repeat = repeat;
  file.descriptor.assign(bytes.begin(), bytes.end());
  file.format = DescriptorFormatOf(descriptor);
  return file;
}

void AppendEntry(std::vector<unsigned char>& file, const std::string& name, uint32_t size,
                 const std::string& data) {
  const std::string header = EntryHeader(name, size);
  file.insert(file.end(), header.begin(), header.end());
  file.insert(file.end(), data.begin(), data.end());
}

PatchTrailer MakeTrailer(uint32_t firstEntryOffset, uint32_t entryCount, uint32_t totalFileSize,
                         const std::string& base, const std::string& target) {
  PatchTrailer trailer = {};
  trailer.magic = PATCH_TRAILER_MAGIC;
  trailer.firstEntryOffset = firstEntryOffset;
  trailer.entryCount = entryCount;
  trailer.totalFileSize = totalFileSize;
  PutText(trailer.baseVersion, sizeof trailer.baseVersion, base);
  PutText(trailer.targetVersion, sizeof trailer.targetVersion, target);
  return trailer;
}

void AppendTrailer(std::vector<unsigned char>& file, const PatchTrailer& trailer) {
  const std::string bytes = TrailerBytes(trailer);
  file.insert(file.end(), bytes.begin(), bytes.end());
}

void WritePayload(std::ostream& out, const PatchLayout& layout, uint32_t firstOffset) {
  uint64_t written = 0;
  for (const PayloadFile& file : layout.files) {
    const uint32_t size =
        static_cast<uint32_t>(file.descriptor.size() + file.data.size() * file.repeat);
    out << EntryHeader(file.name, size, !file.descriptor.empty(), file.format);
    out << file.descriptor;
    for (size_t i = 0; i < file.repeat; ++i) {
      out.write(file.data.data(), static_cast<std::streamsize>(file.data.size()));
    }
    written += PATCH_ENTRY_HEADER_SIZE + uint64_t(size);
  }
  const uint32_t total =
      static_cast<uint32_t>(firstOffset + written + PATCH_TRAILER_SIZE + layout.totalSizeSkew);
  out << TrailerBytes(MakeTrailer(firstOffset, static_cast<uint32_t>(layout.files.size()), total,
                                  layout.baseVersion, layout.targetVersion));
}

bool WriteUpdaterFile(const std::string& path, const std::string& program,
                      const PatchLayout& layout) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(program.data(), static_cast<std::streamsize>(program.size()));
  WritePayload(out, layout, static_cast<uint32_t>(program.size()));
  return static_cast<bool>(out);
}

std::vector<unsigned char> BuildUpdater(size_t programSize, const std::vector<PayloadFile>& files) {
  std::ostringstream out;
  out << std::string(programSize, 'P');
  PatchLayout layout;
  layout.files = files;
  WritePayload(out, layout, static_cast<uint32_t>(programSize));
  const std::string bytes = out.str();
  return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

std::string BarePackage(const std::vector<PayloadFile>& files) {
  std::ostringstream out;
  PatchLayout layout;
  layout.files = files;
  WritePayload(out, layout, 0);
  return out.str();
}

bool AddDigestRecord(std::vector<unsigned char>& file) {
  unsigned char bytes[PATCH_TRAILER_SIZE];
  std::memcpy(bytes, file.data() + file.size() - PATCH_TRAILER_SIZE, PATCH_TRAILER_SIZE);
  PatchTrailer trailer = DecodeTrailer(bytes);
  MemoryByteSource source(file.data(), file.size());
  unsigned char digest[PAYLOAD_DIGEST_SIZE];
  uint64_t digested = 0;
  if (!DigestRegion(source, trailer.firstEntryOffset, DigestRegionEnd(trailer), digest,
                    &digested) ||
      !WriteDigestRecord(&trailer, digest)) {
    return false;
  }
  EncodeTrailer(trailer, bytes);
  std::memcpy(file.data() + file.size() - PATCH_TRAILER_SIZE, bytes, PATCH_TRAILER_SIZE);
  return true;
}
