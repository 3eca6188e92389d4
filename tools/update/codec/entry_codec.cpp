#include "update/codec/entry_codec.h"

#include "update/codec/byte_stream.h"
#include "update/codec/delta_decoder.h"
#include "update/codec/lzma_stream.h"
#include "update/codec/varint.h"
#include "update/codec/x86_branch_filter.h"
#include "update/codec/zstd_stream.h"

namespace {

constexpr size_t kChunkSize = 64 * 1024;

// Stored bytes and zstd frames alike come out of a stream into the sink.
DecodeError Drain(ByteStream& stream, uint64_t size, DecodeSink& sink) {
  DecodeBuffer chunk = AllocateDecodeBuffer(kChunkSize);
  if (!chunk) return DecodeError::OutOfMemory;
  while (size > 0) {
    const size_t want = static_cast<size_t>(size < kChunkSize ? size : kChunkSize);
    size_t produced = 0;
    if (DecodeError error = stream.Read(chunk.get(), want, &produced); error != DecodeError::None) {
      return error;
    }
    if (produced != want) return DecodeError::SizeMismatch;
    if (!sink.Write(chunk.get(), static_cast<uint32_t>(produced))) return DecodeError::SinkFailed;
    size -= produced;
  }
  // More bytes than the file has: the entry's size is wrong, whatever the
  // stream's own checks say about the excess.
  DecodeError error = stream.Finish();
  return IsMalformed(error) ? DecodeError::SizeMismatch : error;
}

// The stored bytes themselves, read in bounded chunks.
class StoredStream : public ByteStream {
 public:
  StoredStream(ByteSource* stored, uint64_t begin, uint64_t size)
      : stored_(stored), next_(begin), end_(begin + size) {}

  DecodeError Read(unsigned char* out, size_t length, size_t* produced) override {
    const uint64_t left = end_ - next_;
    const uint32_t want = static_cast<uint32_t>(length < left ? length : left);
    uint32_t got = 0;
    *produced = 0;
    if (want == 0) return DecodeError::None;
    if (!stored_->ReadAt(next_, out, want, &got) || got != want) {
      return DecodeError::StoredUnreadable;
    }
    next_ += got;
    *produced = got;
    return DecodeError::None;
  }
  DecodeError Finish() override {
    return next_ == end_ ? DecodeError::None : DecodeError::StreamLong;
  }

 private:
  ByteSource* stored_;
  uint64_t next_;
  uint64_t end_;
};

// The main stream restored on its way to the sink.
class RestoringSink : public DecodeSink {
 public:
  RestoringSink(X86BranchRestorer& restorer, DecodeSink& sink, DecodeBuffer& buffer)
      : restorer_(restorer), sink_(sink), buffer_(buffer) {}
  bool Write(const unsigned char* data, uint32_t length) override {
    unsigned char* bytes = buffer_.get();
    for (uint32_t i = 0; i < length; ++i) bytes[i] = data[i];
    error = restorer_.Restore(bytes, length);
    if (error != DecodeError::None) return false;
    return sink_.Write(bytes, length);
  }
  DecodeError error = DecodeError::None;

 private:
  X86BranchRestorer& restorer_;
  DecodeSink& sink_;
  DecodeBuffer& buffer_;
};

// A compressed entry: its stored bytes are one stream of the `Stream` kind.
template <typename Stream>
DecodeError OpenAndDrain(const DecodeRequest& request, DecodeSink& sink) {
  Stream stream;
  if (DecodeError error = stream.Open(request.stored, request.storedBegin, request.storedSize);
      error != DecodeError::None) {
    return error;
  }
  return Drain(stream, request.decodedSize, sink);
}

DecodeError DecodeZstdX86(const DecodeRequest& request, DecodeSink& sink) {
  X86Streams where;
  DecodeError error = LocateX86Streams(request, 0, &where);
  ZstdStream main, flags;
  if (error == DecodeError::None) {
    error = main.Open(request.stored, where.mainBegin, where.mainSize, true);
  }
  if (error == DecodeError::None) {
    error = flags.Open(request.stored, where.flagsBegin, where.flagsSize, true);
  }
  DecodeBuffer buffer = AllocateDecodeBuffer(kChunkSize);
  if (error == DecodeError::None && !buffer) error = DecodeError::OutOfMemory;
  if (error != DecodeError::None) return error;
  X86BranchRestorer restorer(flags);
  RestoringSink restoring(restorer, sink, buffer);
  error = Drain(main, request.decodedSize, restoring);
  if (error == DecodeError::SinkFailed && restoring.error != DecodeError::None) {
    return restoring.error;
  }
  return error == DecodeError::None ? restorer.Finish() : error;
}

}  // namespace

DecodeError DecodeEntryData(const DecodeRequest& request, DecodeSink& sink) {
  if (request.stored == nullptr) return DecodeError::StoredUnreadable;
  switch (request.coding) {
    case EntryCoding::Stored: {
      if (request.storedSize != request.decodedSize) return DecodeError::SizeMismatch;
      StoredStream stream(request.stored, request.storedBegin, request.storedSize);
      return Drain(stream, request.decodedSize, sink);
    }
    case EntryCoding::Zstd:
      return OpenAndDrain<ZstdStream>(request, sink);
    case EntryCoding::Delta:
      return DecodeDelta(request, sink);
    case EntryCoding::ZstdX86:
      return DecodeZstdX86(request, sink);
    case EntryCoding::Lzma:
      return OpenAndDrain<LzmaStream>(request, sink);
  }
  return DecodeError::UnknownCoding;
}

DecodeError LocateX86Streams(const DecodeRequest& request, uint64_t offset, X86Streams* streams) {
  if (offset > request.storedSize) return DecodeError::X86MainSize;
  const uint64_t left = request.storedSize - offset;
  unsigned char head[VARINT_MAX_BYTES] = {};
  const uint32_t want = static_cast<uint32_t>(left < VARINT_MAX_BYTES ? left : VARINT_MAX_BYTES);
  uint32_t got = 0;
  if (!request.stored->ReadAt(request.storedBegin + offset, head, want, &got) || got != want) {
    return DecodeError::StoredUnreadable;
  }
  uint64_t mainStored = 0;
  const size_t used = ReadVarint(head, got, &mainStored);
  if (used == 0 || mainStored > left - used) return DecodeError::X86MainSize;
  streams->mainBegin = request.storedBegin + offset + used;
  streams->mainSize = mainStored;
  streams->flagsBegin = streams->mainBegin + mainStored;
  streams->flagsSize = left - used - mainStored;
  return DecodeError::None;
}

int DecodeErrorCode(DecodeError error) { return IsMalformed(error) ? 3 : static_cast<int>(error); }

bool IsMalformed(DecodeError error) { return static_cast<int>(error) >= 16; }
