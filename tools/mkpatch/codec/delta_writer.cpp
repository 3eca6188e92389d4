#include "delta_writer.h"

#include "delta_format.h"
#include "varint.h"
#include "zstd_encode.h"

namespace {

std::vector<unsigned char> Header(DeltaLayout layout, const DeltaStreams& streams) {
  std::vector<unsigned char> header = {DELTA_METHOD_COPY_ADD, DELTA_FILTER_NONE,
                                       static_cast<unsigned char>(layout), 0};
  AppendVarint(header, streams.control.size());
  AppendVarint(header, streams.difference.size());
  AppendVarint(header, streams.insertion.size());
  return header;
}

// An empty stream stores nothing at all.
std::vector<unsigned char> Compress(const std::vector<unsigned char>& stream, int level) {
  if (stream.empty()) return {};
  return CompressZstd(stream.data(), stream.size(), level);
}

void Append(std::vector<unsigned char>& out, const std::vector<unsigned char>& bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

std::vector<unsigned char> Separate(const DeltaStreams& streams, int level) {
  const std::vector<unsigned char> control = Compress(streams.control, level);
  const std::vector<unsigned char> difference = Compress(streams.difference, level);
  const std::vector<unsigned char> insertion = Compress(streams.insertion, level);
  std::vector<unsigned char> out = Header(DeltaLayout::Separate, streams);
  AppendVarint(out, control.size());
  AppendVarint(out, difference.size());
  Append(out, control);
  Append(out, difference);
  Append(out, insertion);
  return out;
}

std::vector<unsigned char> Packed(const DeltaStreams& streams, int level) {
  std::vector<unsigned char> joined = streams.control;
  Append(joined, streams.difference);
  Append(joined, streams.insertion);
  std::vector<unsigned char> out = Header(DeltaLayout::Packed, streams);
  Append(out, Compress(joined, level));
  return out;
}

}  // namespace

std::vector<unsigned char> WriteDelta(const DeltaStreams& streams, int level) {
  std::vector<unsigned char> separate = Separate(streams, level);
  const uint64_t total =
      streams.control.size() + streams.difference.size() + streams.insertion.size();
  if (total > DELTA_PACKED_MAX) return separate;
  std::vector<unsigned char> packed = Packed(streams, level);
  return packed.size() < separate.size() ? packed : separate;
}
