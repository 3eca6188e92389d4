#include "mkpatch/codec/delta_writer.h"
#include "mkpatch/codec/varint_write.h"

#include "mkpatch/codec/zstd_encode.h"
#include "update/codec/delta_format.h"
#include "update/codec/varint.h"

namespace {

std::vector<unsigned char> Header(DeltaLayoutChoice layout, const DeltaStreams& streams) {
  uint8_t flags = streams.filter;
  if (layout == DeltaLayoutChoice::SeparateSparse) flags |= DELTA_FLAG_SPARSE;
  if (layout == DeltaLayoutChoice::Packed) flags |= DELTA_FLAG_PACKED;
  std::vector<unsigned char> header = {DELTA_METHOD_COPY_ADD, flags};
  if (streams.filter != DELTA_FILTER_NONE) AppendVarint(header, streams.mapMinimum);
  return header;
}

// An empty stream stores nothing at all.
std::vector<unsigned char> Compress(const std::vector<unsigned char>& stream, int level) {
  if (stream.empty()) return {};
  return CompressZstd(stream.data(), stream.size(), level, ZstdFrame::Magicless);
}

void Append(std::vector<unsigned char>& out, const std::vector<unsigned char>& bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

// Pairs of the zeros before each difference that is not zero, and that
// difference; the zeros after the last one are left out.
std::vector<unsigned char> Sparse(const std::vector<unsigned char>& differences) {
  std::vector<unsigned char> pairs;
  uint64_t zeros = 0;
  for (unsigned char difference : differences) {
    if (difference == 0) {
      ++zeros;
      continue;
    }
    AppendVarint(pairs, zeros);
    pairs.push_back(difference);
    zeros = 0;
  }
  return pairs;
}

}  // namespace

bool LayoutFits(DeltaLayoutChoice layout, const DeltaStreams& streams) {
  if (layout != DeltaLayoutChoice::Packed) return true;
  return streams.control.size() + streams.difference.size() + streams.insertion.size() <=
         DELTA_PACKED_MAX;
}

std::vector<unsigned char> WriteDelta(const DeltaStreams& streams, DeltaLayoutChoice layout,
                                      int level) {
  std::vector<unsigned char> out = Header(layout, streams);
  if (layout == DeltaLayoutChoice::Packed) {
    std::vector<unsigned char> joined = streams.control;
    Append(joined, streams.difference);
    Append(joined, streams.insertion);
    // Even an empty file's packed frame is written: its header carries the size.
    Append(out, CompressZstd(joined.data(), joined.size(), level, ZstdFrame::Magicless));
    return out;
  }
  const std::vector<unsigned char> control = Compress(streams.control, level);
  const std::vector<unsigned char> difference = Compress(
      layout == DeltaLayoutChoice::SeparateSparse ? Sparse(streams.difference) : streams.difference,
      level);
  AppendVarint(out, control.size());
  AppendVarint(out, difference.size());
  Append(out, control);
  Append(out, difference);
  Append(out, Compress(streams.insertion, level));
  return out;
}

std::vector<unsigned char> JoinSeparate(uint8_t flags, const std::vector<unsigned char>& control,
                                        const std::vector<unsigned char>& difference,
                                        const std::vector<unsigned char>& insertion) {
  std::vector<unsigned char> out = {DELTA_METHOD_COPY_ADD, flags};
  AppendVarint(out, control.size());
  AppendVarint(out, difference.size());
  Append(out, control);
  Append(out, difference);
  Append(out, insertion);
  return out;
}
