#include "mkpatch/write/file_encoding.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "mkpatch/codec/streamed_encoder.h"
#include "mkpatch/fs/file_source.h"
#include "mkpatch/fs/file_system.h"
#include "update/base/md5.h"

namespace {

// An allocation refused by the system (bad_alloc), or a size no vector can
// take on this platform (length_error): both are "too large for memory".
class OutOfMemory {};

void Digest(const unsigned char* bytes, size_t size, unsigned char (&md5)[ENTRY_DIGEST_SIZE]) {
  MD5 digest;
  for (size_t done = 0; done < size;) {
    const size_t step = size - done < (1u << 30) ? size - done : (1u << 30);
    digest.update(bytes + done, static_cast<uint32_t>(step));
    done += step;
  }
  digest.finalize();
  std::memcpy(md5, digest.raw_digest().data(), ENTRY_DIGEST_SIZE);
}

// The file's bytes, which must still be `size` of them.
bool ReadWhole(const std::string& path, uint64_t size, std::vector<unsigned char>* bytes) {
  if (size > SIZE_MAX) throw OutOfMemory();
  UniqueFile file = OpenFile(path, "rb");
  uint64_t sizeNow = 0;
  if (!file || !FileSize(file.Get(), &sizeNow) || sizeNow != size) return false;
  bytes->resize(static_cast<size_t>(size));
  return size == 0 || std::fread(bytes->data(), 1, bytes->size(), file.Get()) == bytes->size();
}

void Take(EncodedData encoded, uint64_t size, const unsigned char (&md5)[ENTRY_DIGEST_SIZE],
          EncodedEntry* entry) {
  entry->descriptor = EntryDescriptor();
  entry->descriptor.coding = encoded.coding;
  entry->descriptor.decodedSize = size;
  std::memcpy(entry->descriptor.decodedMd5, md5, ENTRY_DIGEST_SIZE);
  entry->stored = std::move(encoded.bytes);
}

// Only a delta names the installed file it needs.
void TakeSource(uint64_t size, const unsigned char (&md5)[ENTRY_DIGEST_SIZE], EncodedEntry* entry) {
  if (entry->descriptor.coding != EntryCoding::Delta) return;
  entry->descriptor.sourceSize = size;
  std::memcpy(entry->descriptor.sourceMd5, md5, ENTRY_DIGEST_SIZE);
}

// A file opened for reading as it is encoded, which must still be `size`
// bytes.
class OpenedFile {
 public:
  OpenedFile(const std::string& path, uint64_t size)
      : file_(OpenFile(path, "rb")), source_(file_.Get(), size) {
    uint64_t sizeNow = 0;
    ok_ = file_ && FileSize(file_.Get(), &sizeNow) && sizeNow == size;
  }
  bool Ok() const { return ok_; }
  ByteSource& Source() { return source_; }

 private:
  UniqueFile file_;
  FileByteSource source_;
  bool ok_ = false;
};

template <typename Work>
EncodeStatus Guarded(Work work) {
  try {
    return work() ? EncodeStatus::Done : EncodeStatus::Unreadable;
  } catch (const std::bad_alloc&) {
    return EncodeStatus::OutOfMemory;
  } catch (const std::length_error&) {
    return EncodeStatus::OutOfMemory;
  } catch (const OutOfMemory&) {
    return EncodeStatus::OutOfMemory;
  }
}

}  // namespace

EncodeStatus EncodeFileWhole(const std::string& path, uint64_t size, const EncodeProgress& progress,
                             EncodedEntry* entry) {
  if (size > kStreamedEncodeThreshold) {
    return Guarded([&] {
      OpenedFile file(path, size);
      StreamedEncoding encoded;
      if (!file.Ok() || !EncodeWholeStreamed(file.Source(), progress, &encoded)) return false;
      Take(std::move(encoded.data), size, encoded.targetMd5, entry);
      return true;
    });
  }
  return Guarded([&] {
    std::vector<unsigned char> bytes;
    if (!ReadWhole(path, size, &bytes)) return false;
    unsigned char md5[ENTRY_DIGEST_SIZE];
    Digest(bytes.data(), bytes.size(), md5);
    Take(EncodeWhole(bytes.data(), bytes.size(), progress), size, md5, entry);
    return true;
  });
}

EncodeStatus EncodeFileChange(const std::string& oldPath, uint64_t oldSize,
                              const std::string& newPath, uint64_t newSize,
                              const EncodeProgress& progress, EncodedEntry* entry) {
  if (NeedsStreamedEncoding(oldSize, newSize)) {
    return Guarded([&] {
      OpenedFile source(oldPath, oldSize), target(newPath, newSize);
      StreamedEncoding encoded;
      if (!source.Ok() || !target.Ok() ||
          !EncodeChangedStreamed(source.Source(), target.Source(), BlockSizeFor(oldSize), progress,
                                 &encoded)) {
        return false;
      }
      Take(std::move(encoded.data), newSize, encoded.targetMd5, entry);
      TakeSource(oldSize, encoded.sourceMd5, entry);
      return true;
    });
  }
  return Guarded([&] {
    std::vector<unsigned char> source, target;
    if (!ReadWhole(oldPath, oldSize, &source) || !ReadWhole(newPath, newSize, &target)) {
      return false;
    }
    unsigned char sourceMd5[ENTRY_DIGEST_SIZE], targetMd5[ENTRY_DIGEST_SIZE];
    Digest(source.data(), source.size(), sourceMd5);
    Digest(target.data(), target.size(), targetMd5);
    Take(EncodeChanged(source.data(), source.size(), target.data(), target.size(), progress),
         newSize, targetMd5, entry);
    TakeSource(oldSize, sourceMd5, entry);
    return true;
  });
}
