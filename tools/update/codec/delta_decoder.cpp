#include "delta_decoder.h"

#include <cstring>

#include "delta_format.h"
#include "varint.h"
#include "zstd_stream.h"

namespace {

constexpr size_t kChunkSize = 64 * 1024;
// The fixed header bytes and at most five numbers.
constexpr size_t kHeaderMax = 4 + 5 * VARINT_MAX_BYTES;

struct DeltaHeader {
  DeltaLayout layout = DeltaLayout::Separate;
  uint64_t controlSize = 0;  // decoded sizes
  uint64_t differenceSize = 0;
  uint64_t insertionSize = 0;
  uint64_t controlStored = 0;  // Separate only
  uint64_t differenceStored = 0;
  uint64_t headerSize = 0;
};

DecodeError ReadHeader(const DecodeRequest& request, DeltaHeader* header) {
  unsigned char bytes[kHeaderMax] = {};
  const uint32_t want =
      static_cast<uint32_t>(request.storedSize < kHeaderMax ? request.storedSize : kHeaderMax);
  uint32_t got = 0;
  if (!request.stored->ReadAt(request.storedBegin, bytes, want, &got) || got != want) {
    return DecodeError::StoredUnreadable;
  }
  if (got < 4) return DecodeError::Corrupt;
  if (bytes[0] != DELTA_METHOD_COPY_ADD || bytes[1] != DELTA_FILTER_NONE) {
    return DecodeError::UnknownCoding;
  }
  if (bytes[2] > static_cast<uint8_t>(DeltaLayout::Packed) || bytes[3] != 0) {
    return DecodeError::Corrupt;
  }
  header->layout = static_cast<DeltaLayout>(bytes[2]);
  uint64_t* fields[5] = {&header->controlSize, &header->differenceSize, &header->insertionSize,
                         &header->controlStored, &header->differenceStored};
  const int count = header->layout == DeltaLayout::Separate ? 5 : 3;
  size_t position = 4;
  for (int i = 0; i < count; ++i) {
    const size_t used = ReadVarint(bytes + position, got - position, fields[i]);
    if (used == 0) return DecodeError::Corrupt;
    position += used;
  }
  header->headerSize = position;
  // Every copied byte has its difference and every other byte comes from the
  // insertion stream: anything else cannot make a file of the promised size.
  if (header->differenceSize > request.decodedSize ||
      header->insertionSize != request.decodedSize - header->differenceSize) {
    return DecodeError::SizeMismatch;
  }
  const uint64_t rest = request.storedSize - position;
  if (header->layout == DeltaLayout::Separate) {
    if (header->controlStored > rest || header->differenceStored > rest - header->controlStored) {
      return DecodeError::Corrupt;
    }
  } else if (header->controlSize > DELTA_PACKED_MAX ||
             header->differenceSize > DELTA_PACKED_MAX - header->controlSize ||
             header->insertionSize >
                 DELTA_PACKED_MAX - header->controlSize - header->differenceSize) {
    return DecodeError::Corrupt;
  }
  return DecodeError::None;
}

// Reads the control stream's numbers through a small buffer.
class ControlReader {
 public:
  explicit ControlReader(ByteStream& stream) : stream_(stream) {}

  DecodeError Next(uint64_t* value) {
    if (end_ - position_ < VARINT_MAX_BYTES && !atEnd_) {
      std::memmove(buffer_, buffer_ + position_, end_ - position_);
      end_ -= position_;
      position_ = 0;
      size_t produced = 0;
      DecodeError error = stream_.Read(buffer_ + end_, sizeof buffer_ - end_, &produced);
      if (error != DecodeError::None) return error;
      if (produced < sizeof buffer_ - end_) atEnd_ = true;
      end_ += produced;
    }
    const size_t used = ReadVarint(buffer_ + position_, end_ - position_, value);
    if (used == 0) return DecodeError::Corrupt;
    position_ += used;
    return DecodeError::None;
  }

  // Nothing may follow the last command.
  DecodeError Finish() {
    if (position_ != end_) return DecodeError::Corrupt;
    return stream_.Finish();
  }

 private:
  ByteStream& stream_;
  unsigned char buffer_[4096];
  size_t position_ = 0;
  size_t end_ = 0;
  bool atEnd_ = false;
};

class DeltaApplier {
 public:
  DeltaApplier(const DecodeRequest& request, DecodeSink& sink) : request_(request), sink_(sink) {}

  DecodeError Run(ByteStream& control, ByteStream& difference, ByteStream& insertion) {
    source_ = AllocateDecodeBuffer(kChunkSize);
    work_ = AllocateDecodeBuffer(kChunkSize);
    if (!source_ || !work_) return DecodeError::OutOfMemory;
    const uint64_t sourceSize = request_.source != nullptr ? request_.source->Size() : 0;
    ControlReader commands(control);
    uint64_t produced = 0;
    uint64_t position = 0;
    while (produced < request_.decodedSize) {
      uint64_t seek = 0, copy = 0, insert = 0;
      DecodeError error = commands.Next(&seek);
      if (error == DecodeError::None) error = commands.Next(&copy);
      if (error == DecodeError::None) error = commands.Next(&insert);
      if (error != DecodeError::None) return error;
      const int64_t move = ZigzagDecode(seek);
      if (move < 0 ? static_cast<uint64_t>(-(move + 1)) + 1 > position
                   : static_cast<uint64_t>(move) > sourceSize - position) {
        return DecodeError::Corrupt;
      }
      position += static_cast<uint64_t>(move);
      const uint64_t left = request_.decodedSize - produced;
      if ((copy == 0 && insert == 0) || copy > left || insert > left - copy ||
          copy > sourceSize - position) {
        return DecodeError::Corrupt;
      }
      if ((error = Copy(position, copy, difference)) != DecodeError::None) return error;
      if ((error = Insert(insert, insertion)) != DecodeError::None) return error;
      produced += copy + insert;
      position += copy;
    }
    DecodeError error = commands.Finish();
    if (error == DecodeError::None) error = difference.Finish();
    if (error == DecodeError::None) error = insertion.Finish();
    return error;
  }

 private:
  // Source bytes plus differences, a chunk at a time.
  DecodeError Copy(uint64_t position, uint64_t length, ByteStream& difference) {
    while (length > 0) {
      const uint32_t chunk = static_cast<uint32_t>(length < kChunkSize ? length : kChunkSize);
      uint32_t got = 0;
      if (!request_.source->ReadAt(position, source_.get(), chunk, &got) || got != chunk) {
        return DecodeError::SourceUnreadable;
      }
      if (DecodeError error = ReadExactly(difference, work_.get(), chunk);
          error != DecodeError::None) {
        return error;
      }
      unsigned char* out = work_.get();
      const unsigned char* old = source_.get();
      for (uint32_t i = 0; i < chunk; ++i) out[i] = static_cast<unsigned char>(out[i] + old[i]);
      if (!sink_.Write(out, chunk)) return DecodeError::SinkFailed;
      position += chunk;
      length -= chunk;
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
  DecodeBuffer source_;
  DecodeBuffer work_;
};

DecodeError DecodeSeparate(const DecodeRequest& request, const DeltaHeader& header,
                           DecodeSink& sink) {
  const uint64_t begin = request.storedBegin + header.headerSize;
  const uint64_t insertionStored =
      request.storedSize - header.headerSize - header.controlStored - header.differenceStored;
  ZstdStream control, difference, insertion;
  DecodeError error = control.Open(request.stored, begin, header.controlStored);
  if (error == DecodeError::None) {
    error = difference.Open(request.stored, begin + header.controlStored, header.differenceStored);
  }
  if (error == DecodeError::None) {
    error = insertion.Open(request.stored, begin + header.controlStored + header.differenceStored,
                           insertionStored);
  }
  if (error != DecodeError::None) return error;
  return DeltaApplier(request, sink).Run(control, difference, insertion);
}

DecodeError DecodePacked(const DecodeRequest& request, const DeltaHeader& header,
                         DecodeSink& sink) {
  const size_t total =
      static_cast<size_t>(header.controlSize + header.differenceSize + header.insertionSize);
  DecodeBuffer streams = AllocateDecodeBuffer(total);
  if (!streams) return DecodeError::OutOfMemory;
  ZstdStream packed;
  DecodeError error = packed.Open(request.stored, request.storedBegin + header.headerSize,
                                  request.storedSize - header.headerSize);
  if (error == DecodeError::None) error = ReadExactly(packed, streams.get(), total);
  if (error == DecodeError::None) error = packed.Finish();
  if (error != DecodeError::None) return error;
  const unsigned char* bytes = streams.get();
  MemoryStream control(bytes, static_cast<size_t>(header.controlSize));
  MemoryStream difference(bytes + header.controlSize, static_cast<size_t>(header.differenceSize));
  MemoryStream insertion(bytes + header.controlSize + header.differenceSize,
                         static_cast<size_t>(header.insertionSize));
  return DeltaApplier(request, sink).Run(control, difference, insertion);
}

}  // namespace

DecodeError DecodeDelta(const DecodeRequest& request, DecodeSink& sink) {
  DeltaHeader header;
  if (DecodeError error = ReadHeader(request, &header); error != DecodeError::None) return error;
  return header.layout == DeltaLayout::Separate ? DecodeSeparate(request, header, sink)
                                                : DecodePacked(request, header, sink);
}
