#include "mkpatch/inspect/content_check.h"

#include <cstring>

#include "mkpatch/fs/name_encoding.h"
#include "update/codec/delta_decoder.h"
#include "update/format/payload_digest.h"

namespace {

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

std::vector<std::string> CheckEntryContents(ByteSource& updater, const PayloadReport& report,
                                            size_t* streamsOnlyDeltas) {
  std::vector<std::string> problems;
  if (streamsOnlyDeltas != nullptr) *streamsOnlyDeltas = 0;
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
    request.source = &zeros;
    request.decodedSize = detail.descriptor.decodedSize;
    const bool streamsOnly = delta && DeltaNeedsSource(request);
    if (streamsOnly && streamsOnlyDeltas != nullptr) ++*streamsOnlyDeltas;
    const DecodeError error =
        streamsOnly ? CheckDeltaStreams(request)
                    : DecodeEntry(updater, entry, detail, delta ? &zeros : nullptr, nullptr, md5);
    const std::string where =
        "entry " + std::to_string(i + 1) + " (" + GbkForDisplay(entry.name) + "): ";
    if (error != DecodeError::None) {
      problems.push_back(where + "cannot be decoded: " + DecodeErrorText(error) + " (check " +
                         std::to_string(static_cast<int>(error)) + ")");
    } else if (!delta && std::memcmp(md5, detail.descriptor.decodedMd5, ENTRY_DIGEST_SIZE) != 0) {
      problems.push_back(where + "decodes to MD5 " + DigestHex(md5) + ", its descriptor records " +
                         DigestHex(detail.descriptor.decodedMd5));
    }
  }
  return problems;
}
