#include "mkpatch/inspect/entry_decode.h"

#include <cstring>

#include "mkpatch/fs/name_encoding.h"
#include "update/base/md5.h"
#include "update/codec/delta_decoder.h"
#include "update/format/payload_digest.h"

namespace {

// Passes the decoded bytes on, hashing them on their way.
class DigestSink : public DecodeSink {
 public:
  explicit DigestSink(DecodeSink* next) : next_(next) {}
  bool Write(const unsigned char* data, uint32_t length) override {
    digest_.update(data, length);
    return next_ == nullptr || next_->Write(data, length);
  }
  void Finish(unsigned char (&md5)[ENTRY_DIGEST_SIZE]) {
    digest_.finalize();
    std::memcpy(md5, digest_.raw_digest().data(), ENTRY_DIGEST_SIZE);
  }

 private:
  DecodeSink* next_;
  MD5 digest_;
};

// `size` zero bytes: stands in for the installed file of a delta.
class ZeroSource : public ByteSource {
 public:
  explicit ZeroSource(uint64_t size) : size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) override {
    const uint64_t left = offset < size_ ? size_ - offset : 0;
    *bytesRead = static_cast<uint32_t>(left < length ? left : length);
    std::memset(buffer, 0, *bytesRead);
    return true;
  }

 private:
  uint64_t size_;
};

}  // namespace

DecodeError DecodeEntry(ByteSource& updater, const PayloadEntry& entry, const EntryDetail& detail,
                        ByteSource* installed, DecodeSink* sink,
                        unsigned char (&md5)[ENTRY_DIGEST_SIZE]) {
  DecodeRequest request;
  request.coding = CodingOf(detail);
  request.stored = &updater;
  request.storedBegin = StoredBegin(entry, detail);
  request.storedSize = StoredSize(entry, detail);
  request.source = installed;
  request.decodedSize = DecodedSize(entry, detail);
  DigestSink digest(sink);
  const DecodeError error = DecodeEntryData(request, digest);
  digest.Finish(md5);
  return error;
}

std::vector<std::string> CheckEntryContents(ByteSource& updater, const PayloadReport& report,
                                            size_t* imageDeltas) {
  std::vector<std::string> problems;
  if (imageDeltas != nullptr) *imageDeltas = 0;
  for (size_t i = 0; i < report.details.size(); ++i) {
    const PayloadEntry& entry = report.table.entries[i];
    const EntryDetail& detail = report.details[i];
    if (!detail.HasDescriptor() || detail.descriptor.kind == EntryKind::Removal) continue;
    const bool delta = detail.descriptor.coding == EntryCoding::Delta;
    ZeroSource zeros(detail.descriptor.sourceSize);
    unsigned char md5[ENTRY_DIGEST_SIZE];
    DecodeRequest request;
    request.stored = &updater;
    request.storedBegin = StoredBegin(entry, detail);
    request.storedSize = StoredSize(entry, detail);
    const bool image = delta && DeltaNeedsImage(request);
    if (image && imageDeltas != nullptr) ++*imageDeltas;
    const DecodeError error =
        image ? CheckDeltaStreams(request)
              : DecodeEntry(updater, entry, detail, delta ? &zeros : nullptr, nullptr, md5);
    const std::string where =
        "entry " + std::to_string(i + 1) + " (" + GbkForDisplay(entry.name) + "): ";
    if (error != DecodeError::None) {
      problems.push_back(where + "cannot be decoded: " + DecodeErrorText(error));
    } else if (!delta && std::memcmp(md5, detail.descriptor.decodedMd5, ENTRY_DIGEST_SIZE) != 0) {
      problems.push_back(where + "decodes to MD5 " + DigestHex(md5) + ", its descriptor records " +
                         DigestHex(detail.descriptor.decodedMd5));
    }
  }
  return problems;
}
