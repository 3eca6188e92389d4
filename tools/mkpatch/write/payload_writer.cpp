#include "mkpatch/write/payload_writer.h"

#include <cstring>
#include <vector>

#include "mkpatch/fs/file_system.h"
#include "update/format/entry_naming.h"
#include "update/format/payload_digest.h"

bool PayloadWriter::Write(const void* bytes, size_t size, bool digested) {
  if (size == 0) return true;
  if (std::fwrite(bytes, 1, size, output_.Get()) != size) return false;
  if (digested) {
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    // MD5 takes 32-bit lengths.
    for (size_t done = 0; done < size;) {
      const size_t step = size - done < (1u << 30) ? size - done : (1u << 30);
      digest_.update(p + done, static_cast<uint32_t>(step));
      done += step;
    }
  }
  written_ += size;
  return true;
}

bool PayloadWriter::CopyStub(FILE* stub, const StubPlan& plan, ProgressBar& progress) {
  std::vector<unsigned char> chunk(1 << 16);
  if (!SeekTo(stub, 0)) return false;
  for (uint64_t left = plan.keep; left > 0;) {
    size_t want = left < chunk.size() ? static_cast<size_t>(left) : chunk.size();
    if (std::fread(chunk.data(), 1, want, stub) != want || !Write(chunk.data(), want, false)) {
      return false;
    }
    left -= want;
    progress.Advance(want);
  }
  stubBytes_ = plan.keep;
  if (plan.clearSignatureEntry == 0) return true;
  const unsigned char zeros[8] = {};
  return SeekTo(output_.Get(), plan.clearSignatureEntry) &&
         std::fwrite(zeros, 1, sizeof zeros, output_.Get()) == sizeof zeros &&
         SeekTo(output_.Get(), plan.keep);
}

bool PayloadWriter::WriteHeader(const char (&nameField)[PATCH_NAME_FIELD_SIZE], uint32_t size) {
  PatchEntryHeader header;
  std::memcpy(header.name, nameField, sizeof header.name);
  header.size = size;
  unsigned char bytes[PATCH_ENTRY_HEADER_SIZE];
  EncodeEntryHeader(header, bytes);
  ++entryCount_;
  return Write(bytes, sizeof bytes, true);
}

bool PayloadWriter::WriteData(const unsigned char* bytes, size_t size) {
  return Write(bytes, size, true);
}

bool PayloadWriter::WriteDescriptorEntry(const std::string& gbkName,
                                         const EntryDescriptor& descriptor,
                                         const std::vector<unsigned char>& stored) {
  char field[PATCH_NAME_FIELD_SIZE];
  if (!MarkedNameField(gbkName, field, DescriptorFormatOf(descriptor))) return false;
  const std::vector<unsigned char> head = EncodeEntryDescriptor(descriptor);
  return WriteHeader(field, static_cast<uint32_t>(head.size() + stored.size())) &&
         WriteData(head.data(), head.size()) && WriteData(stored.data(), stored.size());
}

bool PayloadWriter::CopyData(FILE* from, uint64_t length, ProgressBar& progress) {
  std::vector<unsigned char> chunk(1 << 16);
  while (length > 0) {
    size_t want = length < chunk.size() ? static_cast<size_t>(length) : chunk.size();
    if (std::fread(chunk.data(), 1, want, from) != want || !Write(chunk.data(), want, true)) {
      return false;
    }
    length -= want;
    progress.Advance(want);
  }
  return true;
}

bool PayloadWriter::Finish(const std::string& baseVersion, const std::string& targetVersion) {
  digest_.finalize();
  unsigned char raw[PAYLOAD_DIGEST_SIZE];
  std::memcpy(raw, digest_.raw_digest().data(), sizeof raw);
  PatchTrailer trailer;
  std::memset(&trailer, 0, sizeof trailer);
  trailer.magic = PATCH_TRAILER_MAGIC;
  trailer.firstEntryOffset = static_cast<uint32_t>(stubBytes_);
  trailer.entryCount = entryCount_;
  trailer.totalFileSize = static_cast<uint32_t>(written_ + PATCH_TRAILER_SIZE);
  std::snprintf(trailer.baseVersion, sizeof trailer.baseVersion, "%s", baseVersion.c_str());
  std::snprintf(trailer.targetVersion, sizeof trailer.targetVersion, "%s", targetVersion.c_str());
  WriteDigestRecord(&trailer, raw);
  unsigned char bytes[PATCH_TRAILER_SIZE];
  EncodeTrailer(trailer, bytes);
  return Write(bytes, sizeof bytes, false) && output_.Commit();
}
