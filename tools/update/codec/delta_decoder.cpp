#include "update/codec/delta_decoder.h"

#include <cstring>

#include "update/codec/branch_prediction.h"
#include "update/codec/delta_format.h"
#include "update/codec/varint.h"
#include "update/codec/zstd_stream.h"

// The packed frame's content size: zstd is linked statically, so its
// experimental API is safe to use.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

namespace {

constexpr size_t kChunkSize = 64 * 1024;
// The two fixed bytes and at most three numbers.
constexpr size_t kHeaderMax = 2 + 3 * VARINT_MAX_BYTES;

struct DeltaHeader {
  uint8_t filter = DELTA_FILTER_NONE;
  bool sparse = false;
  bool packed = false;
  uint64_t mapMinimum = 0;     // x86 branch filter only
  uint64_t controlStored = 0;  // separate layout only
  uint64_t differenceStored = 0;
  uint64_t size = 0;  // bytes of the header
};

// out[i] += old[i] modulo 256, four bytes at a time: the top bits are added
// apart, so no carry crosses into the next byte.
void AddBytes(unsigned char* out, const unsigned char* old, size_t size) {
  size_t i = 0;
  for (; i + 4 <= size; i += 4) {
    uint32_t a, b;
    std::memcpy(&a, out + i, 4);
    std::memcpy(&b, old + i, 4);
    const uint32_t sum = ((a & 0x7F7F7F7Fu) + (b & 0x7F7F7F7Fu)) ^ ((a ^ b) & 0x80808080u);
    std::memcpy(out + i, &sum, 4);
  }
  for (; i < size; ++i) out[i] = static_cast<unsigned char>(out[i] + old[i]);
}

uint64_t SourceSize(const DecodeRequest& request) {
  return request.source != nullptr ? request.source->Size() : 0;
}

DecodeError ReadHeader(const DecodeRequest& request, DeltaHeader* header) {
  unsigned char bytes[kHeaderMax] = {};
  const uint32_t want =
      static_cast<uint32_t>(request.storedSize < kHeaderMax ? request.storedSize : kHeaderMax);
  uint32_t got = 0;
  if (!request.stored->ReadAt(request.storedBegin, bytes, want, &got) || got != want) {
    return DecodeError::StoredUnreadable;
  }
  if (got < 2) return DecodeError::DeltaHeaderCut;
  const uint8_t flags = bytes[1];
  header->filter = flags & DELTA_FILTER_MASK;
  if (bytes[0] != DELTA_METHOD_COPY_ADD || header->filter > DELTA_FILTER_X86_BRANCHES) {
    return DecodeError::UnknownCoding;
  }
  header->sparse = (flags & DELTA_FLAG_SPARSE) != 0;
  header->packed = (flags & DELTA_FLAG_PACKED) != 0;
  const uint8_t known = DELTA_FILTER_MASK | DELTA_FLAG_SPARSE | DELTA_FLAG_PACKED;
  if ((flags & ~known) != 0 || (header->sparse && header->packed)) {
    return DecodeError::DeltaFlagsUnknown;
  }
  uint64_t* fields[3] = {&header->mapMinimum, &header->controlStored, &header->differenceStored};
  const int first = header->filter == DELTA_FILTER_X86_BRANCHES ? 0 : 1;
  const int count = header->packed ? 1 : 3;
  size_t position = 2;
  for (int i = first; i < count; ++i) {
    const size_t used = ReadVarint(bytes + position, got - position, fields[i]);
    if (used == 0) return DecodeError::DeltaHeaderNumber;
    position += used;
  }
  header->size = position;
  const uint64_t rest = request.storedSize - position;
  if (!header->packed &&
      (header->controlStored > rest || header->differenceStored > rest - header->controlStored)) {
    return DecodeError::DeltaStreamSizes;
  }
  return DecodeError::None;
}

// Numbers and bytes from a stream, through a small buffer.
class StreamReader {
 public:
  // `malformed` is the refusal for a number or byte the stream cannot give.
  StreamReader(ByteStream& stream, DecodeError malformed)
      : stream_(stream), malformed_(malformed) {}

  DecodeError Number(uint64_t* value) {
    if (DecodeError error = Fill(); error != DecodeError::None) return error;
    if (position_ == end_) return DecodeError::StreamShort;
    const size_t used = ReadVarint(buffer_ + position_, end_ - position_, value);
    if (used == 0) return malformed_;
    position_ += used;
    return DecodeError::None;
  }

  DecodeError Byte(unsigned char* value) {
    if (DecodeError error = Fill(); error != DecodeError::None) return error;
    if (position_ == end_) return malformed_;
    *value = buffer_[position_++];
    return DecodeError::None;
  }

  // Whether the stream has nothing left.
  DecodeError AtEnd(bool* atEnd) {
    if (DecodeError error = Fill(); error != DecodeError::None) return error;
    *atEnd = position_ == end_;
    return DecodeError::None;
  }

  // Nothing may follow what was read.
  DecodeError Finish() {
    if (position_ != end_) return DecodeError::StreamLong;
    return stream_.Finish();
  }

 private:
  // Keeps at least a whole number in the buffer while the stream has one.
  DecodeError Fill() {
    if (end_ - position_ >= VARINT_MAX_BYTES || atEnd_) return DecodeError::None;
    std::memmove(buffer_, buffer_ + position_, end_ - position_);
    end_ -= position_;
    position_ = 0;
    size_t produced = 0;
    DecodeError error = stream_.Read(buffer_ + end_, sizeof buffer_ - end_, &produced);
    if (error != DecodeError::None) return error;
    if (produced < sizeof buffer_ - end_) atEnd_ = true;
    end_ += produced;
    return DecodeError::None;
  }

  ByteStream& stream_;
  DecodeError malformed_;
  unsigned char buffer_[4096];
  size_t position_ = 0;
  size_t end_ = 0;
  bool atEnd_ = false;
};

// Expands a sparse difference stream (pairs of a zero count and a byte).
class SparseStream : public ByteStream {
 public:
  explicit SparseStream(ByteStream& pairs) : pairs_(pairs, DecodeError::SparsePair) {}

  DecodeError Read(unsigned char* out, size_t length, size_t* produced) override {
    size_t done = 0;
    while (done < length) {
      if (zeros_ > 0) {
        const size_t count = zeros_ < length - done ? static_cast<size_t>(zeros_) : length - done;
        std::memset(out + done, 0, count);
        zeros_ -= count;
        done += count;
      } else if (pending_) {
        out[done++] = value_;
        pending_ = false;
      } else {
        bool atEnd = false;
        DecodeError error = pairs_.AtEnd(&atEnd);
        if (error != DecodeError::None) return error;
        if (atEnd) {
          // Past the last pair every difference is zero.
          std::memset(out + done, 0, length - done);
          done = length;
          break;
        }
        error = pairs_.Number(&zeros_);
        if (error == DecodeError::None) error = pairs_.Byte(&value_);
        if (error != DecodeError::None) return error;
        if (value_ == 0) return DecodeError::SparsePair;
        pending_ = true;
      }
    }
    *produced = done;
    return DecodeError::None;
  }

  // A pair not yet used up means the copies were shorter than the stream.
  DecodeError Finish() override {
    if (zeros_ != 0 || pending_) return DecodeError::SparseLeftOver;
    return pairs_.Finish();
  }

 private:
  StreamReader pairs_;
  uint64_t zeros_ = 0;
  unsigned char value_ = 0;
  bool pending_ = false;
};

// The commands, checked against the source and the file they make: each
// yields where its copy begins in the source, and how much it copies and
// inserts.
class CommandReader {
 public:
  CommandReader(ByteStream& control, uint64_t sourceSize, uint64_t decodedSize)
      : control_(control, DecodeError::ControlNumber),
        sourceSize_(sourceSize),
        decodedSize_(decodedSize) {}

  bool Done() const { return produced_ == decodedSize_; }
  uint64_t Produced() const { return produced_; }

  DecodeError Next(uint64_t* position, uint64_t* copy, uint64_t* insert) {
    uint64_t seek = 0;
    DecodeError error = control_.Number(&seek);
    if (error == DecodeError::None) error = control_.Number(copy);
    if (error == DecodeError::None) error = control_.Number(insert);
    if (error != DecodeError::None) return error;
    const int64_t move = ZigzagDecode(seek);
    if (move < 0 ? static_cast<uint64_t>(-(move + 1)) + 1 > position_
                 : static_cast<uint64_t>(move) > sourceSize_ - position_) {
      return DecodeError::SeekOutside;
    }
    position_ += static_cast<uint64_t>(move);
    const uint64_t left = decodedSize_ - produced_;
    if (*copy == 0 && *insert == 0) return DecodeError::CommandEmpty;
    if (*copy > left || *insert > left - *copy) return DecodeError::CommandPastEnd;
    if (*copy > sourceSize_ - position_) return DecodeError::CopyPastSource;
    *position = position_;
    position_ += *copy;
    produced_ += *copy + *insert;
    return DecodeError::None;
  }

  DecodeError Finish() { return control_.Finish(); }

 private:
  StreamReader control_;
  uint64_t sourceSize_;
  uint64_t decodedSize_;
  uint64_t position_ = 0;
  uint64_t produced_ = 0;
};

// The copy map of the x86 branch filter, from a first reading of the commands.
DecodeError ReadCopyMap(ByteStream& control, uint64_t sourceSize, uint64_t decodedSize,
                        CopyMap* map) {
  CommandReader commands(control, sourceSize, decodedSize);
  while (!commands.Done()) {
    const uint64_t newStart = commands.Produced();
    uint64_t position = 0, copy = 0, insert = 0;
    if (DecodeError error = commands.Next(&position, &copy, &insert); error != DecodeError::None) {
      return error;
    }
    if (!map->Add(position, newStart, copy)) return DecodeError::OutOfMemory;
  }
  map->Finish();
  return DecodeError::None;
}

class DeltaApplier {
 public:
  DeltaApplier(const DecodeRequest& request, DecodeSink& sink, const CopyMap* map)
      : request_(request), sink_(sink), map_(map), sourceSize_(SourceSize(request)) {}

  DecodeError Run(ByteStream& control, ByteStream& difference, ByteStream& insertion) {
    source_ = AllocateDecodeBuffer(kChunkSize + 4);
    predicted_ = AllocateDecodeBuffer(kChunkSize);
    work_ = AllocateDecodeBuffer(kChunkSize);
    if (!source_ || !predicted_ || !work_) return DecodeError::OutOfMemory;
    CommandReader commands(control, sourceSize_, request_.decodedSize);
    while (!commands.Done()) {
      const uint64_t newStart = commands.Produced();
      uint64_t position = 0, copy = 0, insert = 0;
      DecodeError error = commands.Next(&position, &copy, &insert);
      if (error == DecodeError::None) error = Copy(position, newStart, copy, difference);
      if (error == DecodeError::None) error = Insert(insert, insertion);
      if (error != DecodeError::None) return error;
    }
    DecodeError error = commands.Finish();
    if (error == DecodeError::None) error = difference.Finish();
    if (error == DecodeError::None) error = insertion.Finish();
    return error;
  }

 private:
  // Source bytes (predicted, with the branch filter) plus differences, a
  // chunk at a time. The filter looks up to four bytes past a chunk, within
  // the copy.
  DecodeError Copy(uint64_t position, uint64_t newStart, uint64_t length, ByteStream& difference) {
    SiteCarry carry;
    const uint32_t copyShift = static_cast<uint32_t>(newStart - position);
    const uint64_t end = position + length;
    while (position < end) {
      const uint64_t left = end - position;
      const uint32_t chunk = static_cast<uint32_t>(left < kChunkSize ? left : kChunkSize);
      const uint32_t lookahead =
          map_ != nullptr ? static_cast<uint32_t>(left - chunk < 4 ? left - chunk : 4) : 0;
      uint32_t got = 0;
      if (!request_.source->ReadAt(position, source_.get(), chunk + lookahead, &got) ||
          got != chunk + lookahead) {
        return DecodeError::SourceUnreadable;
      }
      const unsigned char* old = source_.get();
      if (map_ != nullptr) {
        PredictBranches(*map_, position, copyShift, sourceSize_, old, chunk, lookahead,
                        predicted_.get(), carry);
        old = predicted_.get();
      }
      if (DecodeError error = ReadExactly(difference, work_.get(), chunk);
          error != DecodeError::None) {
        return error;
      }
      unsigned char* out = work_.get();
      AddBytes(out, old, chunk);
      if (!sink_.Write(out, chunk)) return DecodeError::SinkFailed;
      position += chunk;
    }
    return DecodeError::None;
  }

  DecodeError Insert(uint64_t length, ByteStream& insertion) {
    while (length > 0) {
      const uint32_t chunk = static_cast<uint32_t>(length < kChunkSize ? length : kChunkSize);
      if (DecodeError error = ReadExactly(insertion, work_.get(), chunk);
          error != DecodeError::None) {
        return error;
      }
      if (!sink_.Write(work_.get(), chunk)) return DecodeError::SinkFailed;
      length -= chunk;
    }
    return DecodeError::None;
  }

  const DecodeRequest& request_;
  DecodeSink& sink_;
  const CopyMap* map_;
  uint64_t sourceSize_;
  DecodeBuffer source_;
  DecodeBuffer predicted_;
  DecodeBuffer work_;
};

// Decodes with `control` read once more first when the branch filter needs
// its copy map (`mapControl`, a second reading of the same stream).
DecodeError Apply(const DecodeRequest& request, const DeltaHeader& header, DecodeSink& sink,
                  ByteStream& control, ByteStream& mapControl, ByteStream& difference,
                  ByteStream& insertion) {
  CopyMap map(header.mapMinimum);
  const bool filtered = header.filter == DELTA_FILTER_X86_BRANCHES;
  if (filtered) {
    if (DecodeError error = ReadCopyMap(mapControl, SourceSize(request), request.decodedSize, &map);
        error != DecodeError::None) {
      return error;
    }
  }
  if (!header.sparse) {
    return DeltaApplier(request, sink, filtered ? &map : nullptr)
        .Run(control, difference, insertion);
  }
  SparseStream expanded(difference);
  return DeltaApplier(request, sink, filtered ? &map : nullptr).Run(control, expanded, insertion);
}

DecodeError DecodeSeparate(const DecodeRequest& request, const DeltaHeader& header,
                           DecodeSink& sink) {
  const uint64_t begin = request.storedBegin + header.size;
  const uint64_t differenceBegin = begin + header.controlStored;
  const uint64_t insertionBegin = differenceBegin + header.differenceStored;
  const uint64_t insertionStored = request.storedBegin + request.storedSize - insertionBegin;
  ZstdStream control, mapControl, difference, insertion;
  DecodeError error = control.Open(request.stored, begin, header.controlStored, true);
  if (error == DecodeError::None && header.filter == DELTA_FILTER_X86_BRANCHES) {
    error = mapControl.Open(request.stored, begin, header.controlStored, true);
  }
  if (error == DecodeError::None) {
    error = difference.Open(request.stored, differenceBegin, header.differenceStored, true);
  }
  if (error == DecodeError::None) {
    error = insertion.Open(request.stored, insertionBegin, insertionStored, true);
  }
  if (error != DecodeError::None) return error;
  return Apply(request, header, sink, control, mapControl, difference, insertion);
}

// The packed frame's content size, from its header.
DecodeError PackedSize(const DecodeRequest& request, uint64_t begin, uint64_t* size) {
  unsigned char bytes[ZSTD_FRAMEHEADERSIZE_MAX] = {};
  const uint64_t stored = request.storedBegin + request.storedSize - begin;
  const uint32_t want = static_cast<uint32_t>(stored < sizeof bytes ? stored : sizeof bytes);
  uint32_t got = 0;
  if (!request.stored->ReadAt(begin, bytes, want, &got) || got != want) {
    return DecodeError::StoredUnreadable;
  }
  ZSTD_frameHeader frame;
  if (ZSTD_getFrameHeader_advanced(&frame, bytes, got, ZSTD_f_zstd1_magicless) != 0 ||
      frame.frameType != ZSTD_frame || frame.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN ||
      frame.frameContentSize > DELTA_PACKED_MAX) {
    return DecodeError::PackedSize;
  }
  *size = frame.frameContentSize;
  return DecodeError::None;
}

// Where the packed streams divide: the control stream ends with the command
// that completes the file, and the differences are as many as the copies.
DecodeError SplitPacked(const unsigned char* bytes, size_t size, uint64_t decodedSize,
                        size_t* controlSize, size_t* differenceSize) {
  size_t position = 0;
  uint64_t produced = 0, copied = 0;
  while (produced < decodedSize) {
    uint64_t values[3];
    for (uint64_t& value : values) {
      const size_t used = ReadVarint(bytes + position, size - position, &value);
      if (used == 0) return DecodeError::ControlNumber;
      position += used;
    }
    const uint64_t copy = values[1], insert = values[2], left = decodedSize - produced;
    if (copy == 0 && insert == 0) return DecodeError::CommandEmpty;
    if (copy > left || insert > left - copy) return DecodeError::CommandPastEnd;
    produced += copy + insert;
    copied += copy;
  }
  // What follows the commands must be the differences and the insertions.
  if (size - position != decodedSize) return DecodeError::SizeMismatch;
  *controlSize = position;
  *differenceSize = static_cast<size_t>(copied);
  return DecodeError::None;
}

DecodeError DecodePacked(const DecodeRequest& request, const DeltaHeader& header,
                         DecodeSink& sink) {
  const uint64_t begin = request.storedBegin + header.size;
  uint64_t total = 0;
  if (DecodeError error = PackedSize(request, begin, &total); error != DecodeError::None) {
    return error;
  }
  DecodeBuffer streams = AllocateDecodeBuffer(static_cast<size_t>(total));
  if (!streams) return DecodeError::OutOfMemory;
  ZstdStream packed;
  DecodeError error =
      packed.Open(request.stored, begin, request.storedBegin + request.storedSize - begin, true);
  if (error == DecodeError::None) error = ReadExactly(packed, streams.get(), total);
  if (error == DecodeError::None) error = packed.Finish();
  size_t controlSize = 0, differenceSize = 0;
  if (error == DecodeError::None) {
    error = SplitPacked(streams.get(), static_cast<size_t>(total), request.decodedSize,
                        &controlSize, &differenceSize);
  }
  if (error != DecodeError::None) return error;
  const unsigned char* bytes = streams.get();
  MemoryStream control(bytes, controlSize);
  MemoryStream mapControl(bytes, controlSize);
  MemoryStream difference(bytes + controlSize, differenceSize);
  MemoryStream insertion(bytes + controlSize + differenceSize,
                         static_cast<size_t>(total) - controlSize - differenceSize);
  return Apply(request, header, sink, control, mapControl, difference, insertion);
}

}  // namespace

// Method 2: the source whole in memory as the frame's prefix.
DecodeError DecodeWithPrefix(const DecodeRequest& request, DecodeSink& sink) {
  const uint64_t sourceSize = SourceSize(request);
  if (sourceSize > DELTA_PREFIX_MAX) return DecodeError::PrefixTooLarge;
  DecodeBuffer prefix = AllocateDecodeBuffer(static_cast<size_t>(sourceSize));
  DecodeBuffer chunk = AllocateDecodeBuffer(kChunkSize);
  if (!prefix || !chunk) return DecodeError::OutOfMemory;
  for (uint64_t done = 0; done < sourceSize;) {
    const uint64_t left = sourceSize - done;
    const uint32_t want = static_cast<uint32_t>(left < kChunkSize ? left : kChunkSize);
    uint32_t got = 0;
    if (!request.source->ReadAt(done, prefix.get() + done, want, &got) || got != want) {
      return DecodeError::SourceUnreadable;
    }
    done += got;
  }
  ZstdStream frame;
  DecodeError error =
      frame.Open(request.stored, request.storedBegin + 1, request.storedSize - 1, true);
  if (error == DecodeError::None) {
    error = frame.UsePrefix(prefix.get(), static_cast<size_t>(sourceSize));
  }
  for (uint64_t left = request.decodedSize; error == DecodeError::None && left > 0;) {
    const size_t want = static_cast<size_t>(left < kChunkSize ? left : kChunkSize);
    error = ReadExactly(frame, chunk.get(), want);
    if (error == DecodeError::None && !sink.Write(chunk.get(), static_cast<uint32_t>(want))) {
      error = DecodeError::SinkFailed;
    }
    left -= want;
  }
  // One frame only: the prefix is gone once it ends.
  return error == DecodeError::None ? frame.Finish() : error;
}

DecodeError DecodeDelta(const DecodeRequest& request, DecodeSink& sink) {
  unsigned char method = 0;
  uint32_t got = 0;
  if (request.storedSize == 0) return DecodeError::DeltaEmpty;
  if (!request.stored->ReadAt(request.storedBegin, &method, 1, &got) || got != 1) {
    return DecodeError::StoredUnreadable;
  }
  if (method == DELTA_METHOD_SOURCE_PREFIX) return DecodeWithPrefix(request, sink);
  DeltaHeader header;
  if (DecodeError error = ReadHeader(request, &header); error != DecodeError::None) return error;
  return header.packed ? DecodePacked(request, header, sink)
                       : DecodeSeparate(request, header, sink);
}
