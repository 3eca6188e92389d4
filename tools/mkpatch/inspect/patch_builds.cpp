#include "mkpatch/inspect/patch_builds.h"

#include <cstring>

#include "mkpatch/inspect/content_check.h"

namespace {

// 32 builds of names far longer than any version.
constexpr uint64_t kLongestList = 64 * 1024;

class TextSink : public DecodeSink {
 public:
  bool Write(const unsigned char* data, uint32_t length) override {
    if (text.size() + length > kLongestList) return false;
    text.append(reinterpret_cast<const char*>(data), length);
    return true;
  }
  std::string text;
};

}  // namespace

PatchBuilds ReadPatchBuilds(ByteSource& updater, const std::vector<PayloadEntry>& table,
                            const std::vector<EntryDetail>& details) {
  PatchBuilds builds;
  for (size_t i = 0; i < details.size() && i < table.size(); ++i) {
    const EntryDetail& detail = details[i];
    if (!detail.HasDescriptor() || detail.descriptor.kind != EntryKind::BuildList) continue;
    if (detail.descriptor.decodedSize > kLongestList) return builds;
    TextSink sink;
    unsigned char md5[ENTRY_DIGEST_SIZE];
    if (DecodeEntry(updater, table[i], detail, nullptr, &sink, md5) != DecodeError::None ||
        std::memcmp(md5, detail.descriptor.decodedMd5, ENTRY_DIGEST_SIZE) != 0) {
      return builds;
    }
    size_t start = 0;
    while (start < sink.text.size()) {
      size_t end = sink.text.find('\n', start);
      if (end == std::string::npos) end = sink.text.size();
      builds.names.push_back(sink.text.substr(start, end - start));
      start = end + 1;
    }
    builds.listed = true;
    return builds;
  }
  return builds;
}

std::vector<std::string> NamedBuilds(const PatchBuilds& patch, uint32_t builds) {
  std::vector<std::string> named;
  for (uint32_t i = 0; i < 32; ++i) {
    if ((builds & (uint32_t(1) << i)) == 0) continue;
    named.push_back(i < patch.names.size() ? patch.names[i] : "build " + std::to_string(i));
  }
  return named;
}

std::string JoinedBuilds(const PatchBuilds& patch, uint32_t builds) {
  std::string joined;
  for (const std::string& name : NamedBuilds(patch, builds)) {
    joined += (joined.empty() ? "" : ", ") + name;
  }
  return joined;
}
