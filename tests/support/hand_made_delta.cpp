#include "hand_made_delta.h"

#include "mkpatch/codec/delta_writer.h"
#include "mkpatch/codec/varint_write.h"
#include "update/base/gbk_text.h"
#include "update/codec/varint.h"

namespace {

constexpr unsigned char kChange = 0x5A;
// Fast: the streams are mostly zeros, which any level shrinks to nothing.
constexpr int kLevel = 1;

}  // namespace

PayloadFile HandMadeDeltaEntry(const std::string& path, const std::string& old,
                               const std::vector<size_t>& changes, std::string* fresh,
                               uint8_t flags) {
  DeltaStreams streams;
  AppendVarint(streams.control, ZigzagEncode(0));
  AppendVarint(streams.control, old.size());
  AppendVarint(streams.control, 0);
  streams.difference.assign(old.size(), 0);
  *fresh = old;
  for (size_t at : changes) {
    streams.difference[at] = kChange;
    (*fresh)[at] = static_cast<char>((*fresh)[at] + kChange);
  }
  const std::vector<unsigned char> stored =
      WriteDelta(streams, DeltaLayoutChoice::Separate, kLevel);
  EntryDescriptor descriptor = DescribeFile(EntryKind::PathFile, EntryCoding::Delta, *fresh, path);
  DescribeSource(descriptor, old);
  descriptor.flags = flags;
  const char* separator = FindLastSeparator(path.c_str(), "\\/");
  return DescribedFile(separator != nullptr ? separator + 1 : path, descriptor,
                       std::string(stored.begin(), stored.end()));
}
