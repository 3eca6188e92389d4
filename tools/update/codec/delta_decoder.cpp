#include "update/codec/delta_decoder.h"

#include <cstring>

#include "update/codec/branch_prediction.h"
#include "update/codec/control_reader.h"
#include "update/codec/delta_format.h"
#include "update/codec/gathered_copies.h"
#include "update/codec/reference_delta.h"
#include "update/codec/source_window.h"
#include "update/codec/varint.h"
#include "update/codec/x86_branch_filter.h"
#include "update/codec/zstd_stream.h"

// The packed frame's content size: zstd is linked statically, so its
// experimental API is safe to use.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

namespace {

constexpr size_t kChunkSize = 64 * 1024;
// The source is read a window at a time: a delta's copies are many and
// short, and mostly go forwards through the old file.
constexpr size_t kSourceWindow = 8 * 1024;
constexpr size_t kSourceWindows = 16;
// The two fixed bytes and at most three numbers.
constexpr size_t kHeaderMax = 2 + 3 * VARINT_MAX_BYTES;

struct DeltaHeader {
  uint8_t filter = DELTA_FILTER_NONE;
  bool sparse = false;
  bool packed = false;
  uint64_t mapMinimum = 0;     // filters 1 and 2 only
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
  if (bytes[0] != DELTA_METHOD_COPY_ADD || header->filter > DELTA_FILTER_PE_REFERENCES) {
    return DecodeError::UnknownCoding;
  }
  header->sparse = (flags & DELTA_FLAG_SPARSE) != 0;
  header->packed = (flags & DELTA_FLAG_PACKED) != 0;
  const uint8_t known = DELTA_FILTER_MASK | DELTA_FLAG_SPARSE | DELTA_FLAG_PACKED;
  if ((flags & ~known) != 0 || (header->sparse && header->packed)) {
    return DecodeError::DeltaFlagsUnknown;
  }
  uint64_t* fields[3] = {&header->mapMinimum, &header->controlStored, &header->differenceStored};
  const int first = header->filter != DELTA_FILTER_NONE ? 0 : 1;
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

// Where a copy's differences come from: each is added to a source byte.
class Differences {
 public:
  virtual ~Differences() = default;
  // out[i] = source[i] + the next difference, for `length` bytes.
  virtual DecodeError Add(const unsigned char* source, unsigned char* out, size_t length) = 0;
  virtual DecodeError Finish() = 0;
};

// A stream of one difference per byte.
class DenseDifferences : public Differences {
 public:
  explicit DenseDifferences(ByteStream& stream) : stream_(stream) {}
  DecodeError Add(const unsigned char* source, unsigned char* out, size_t length) override {
    if (DecodeError error = ReadExactly(stream_, out, length); error != DecodeError::None) {
      return error;
    }
    AddBytes(out, source, length);
    return DecodeError::None;
  }
  DecodeError Finish() override { return stream_.Finish(); }

 private:
  ByteStream& stream_;
};

// A sparse difference stream: pairs of a count of zero differences and a
// difference that is not zero, added where they fall (most bytes of a copy
// are the source's own).
class SparseDifferences : public Differences {
 public:
  explicit SparseDifferences(ByteStream& pairs) : pairs_(pairs, DecodeError::SparsePair) {}

  DecodeError Add(const unsigned char* source, unsigned char* out, size_t length) override {
    std::memcpy(out, source, length);
    size_t done = 0;
    while (done < length) {
      if (zeros_ > 0) {
        const size_t count = zeros_ < length - done ? static_cast<size_t>(zeros_) : length - done;
        zeros_ -= count;
        done += count;
      } else if (pending_) {
        out[done] = static_cast<unsigned char>(out[done] + value_);
        ++done;
        pending_ = false;
      } else {
        bool atEnd = false;
        DecodeError error = pairs_.AtEnd(&atEnd);
        if (error != DecodeError::None) return error;
        // Past the last pair every difference is zero.
        if (atEnd) break;
        error = pairs_.Number(&zeros_);
        if (error == DecodeError::None) error = pairs_.Byte(&value_);
        if (error != DecodeError::None) return error;
        if (value_ == 0) return DecodeError::SparsePair;
        pending_ = true;
      }
    }
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

// How a copy's source bytes are predicted before its differences are added.
class CopyPrediction {
 public:
  virtual ~CopyPrediction() = default;
  // Bytes past a piece the prediction looks at (within the copy).
  virtual uint32_t Lookahead() const = 0;
  // The next copy will begin at `position` in the source: what predicting it
  // reads may be fetched into the cache meanwhile.
  virtual void Prefetch(uint64_t position) const { (void)position; }
  // Where a piece of a copy that would end at `limit` must end instead.
  virtual uint64_t PieceEnd(uint64_t position, uint64_t limit, uint64_t copyEnd) const = 0;
  // Predicts the piece: `length` source bytes at `position` (and `lookahead`
  // more after them in `bytes`) of a copy that begins at `copyStart` in the
  // source and `newStart` in the new file and ends at `copyEnd`; in place.
  virtual void Predict(uint64_t position, uint64_t copyStart, uint64_t newStart, uint64_t copyEnd,
                       unsigned char* bytes, uint32_t length, uint32_t lookahead,
                       SiteCarry& carry) = 0;
};

// Filter 1: calls and jumps moved as far as their targets did.
class BranchPrediction : public CopyPrediction {
 public:
  BranchPrediction(const CopyMap& map, uint64_t sourceSize, unsigned char* scratch)
      : map_(map), sourceSize_(sourceSize), scratch_(scratch) {}
  uint32_t Lookahead() const override { return 4; }
  uint64_t PieceEnd(uint64_t, uint64_t limit, uint64_t) const override { return limit; }
  void Predict(uint64_t position, uint64_t copyStart, uint64_t newStart, uint64_t,
               unsigned char* bytes, uint32_t length, uint32_t lookahead,
               SiteCarry& carry) override {
    PredictBranches(map_, position, static_cast<uint32_t>(newStart - copyStart), sourceSize_, bytes,
                    length, lookahead, scratch_, carry);
    std::memcpy(bytes, scratch_, length);
  }

 private:
  const CopyMap& map_;
  uint64_t sourceSize_;
  unsigned char* scratch_;
};

// Filter 2: the image's references rewritten for where they and their
// targets went.
class ReferencePrediction : public CopyPrediction {
 public:
  explicit ReferencePrediction(const ReferenceModel& model) : model_(model) {}
  uint32_t Lookahead() const override { return 0; }
  void Prefetch(uint64_t position) const override { model_.PrefetchReferences(position); }
  uint64_t PieceEnd(uint64_t position, uint64_t limit, uint64_t copyEnd) const override {
    return model_.PieceEnd(position, limit, copyEnd);
  }
  void Predict(uint64_t position, uint64_t copyStart, uint64_t newStart, uint64_t copyEnd,
               unsigned char* bytes, uint32_t length, uint32_t, SiteCarry&) override {
    model_.Predict(position, length, copyEnd, newStart - copyStart, bytes);
  }

 private:
  const ReferenceModel& model_;
};

// A first reading of the commands: the short copies to gather and, for the
// x86 branch filter, the copy map (`map` null for none).
DecodeError ReadCopies(ByteStream& control, uint64_t sourceSize, uint64_t decodedSize, CopyMap* map,
                       GatheredCopies* gathered) {
  StreamReader reader(control, DecodeError::ControlNumber);
  CommandReader commands(reader, sourceSize, decodedSize);
  while (!commands.Done()) {
    const uint64_t newStart = commands.Produced();
    uint64_t position = 0, copy = 0, insert = 0;
    if (DecodeError error = commands.Next(&position, &copy, &insert); error != DecodeError::None) {
      return error;
    }
    if ((map != nullptr && !map->Add(position, newStart, copy)) || !gathered->Add(position, copy)) {
      return DecodeError::OutOfMemory;
    }
  }
  if (map != nullptr) map->Finish();
  return DecodeError::None;
}

class DeltaApplier {
 public:
  DeltaApplier(ByteSource& source, GatheredCopies& gathered, uint64_t decodedSize, DecodeSink& sink)
      : source_(source, kSourceWindow, kSourceWindows),
        gathered_(gathered),
        decodedSize_(decodedSize),
        sink_(sink) {}

  DecodeError Allocate() {
    bytes_ = AllocateDecodeBuffer(kChunkSize + 8);
    scratch_ = AllocateDecodeBuffer(kChunkSize);
    // A piece may run a reference's width past a chunk, and the output is
    // passed on once a chunk of it is complete.
    out_ = AllocateDecodeBuffer(2 * kChunkSize + 8);
    return bytes_ && scratch_ && out_ && source_.Allocate() ? DecodeError::None
                                                            : DecodeError::OutOfMemory;
  }
  unsigned char* Scratch() { return scratch_.get(); }

  // `control` is positioned at the first command.
  DecodeError Run(StreamReader& control, CopyPrediction* prediction, Differences& difference,
                  ByteStream& insertion) {
    CommandReader reader(control, source_.Size(), decodedSize_);
    CommandLookahead commands(reader);
    while (!commands.Done()) {
      Command command;
      if (DecodeError error = commands.Next(&command); error != DecodeError::None) return error;
      // The next copy's references are fetched while this one is made.
      const Command* following = commands.Following();
      if (following != nullptr && prediction != nullptr) prediction->Prefetch(following->position);
      if (DecodeError error =
              Copy(command.position, command.newStart, command.copy, prediction, difference);
          error != DecodeError::None) {
        return error;
      }
      if (DecodeError error = Insert(command.insert, insertion); error != DecodeError::None) {
        return error;
      }
    }
    if (!Flush()) return DecodeError::SinkFailed;
    if (DecodeError error = control.Finish(); error != DecodeError::None) return error;
    if (DecodeError error = difference.Finish(); error != DecodeError::None) return error;
    return insertion.Finish();
  }

 private:
  // Source bytes (predicted, with a filter) plus differences, a piece at a
  // time.
  DecodeError Copy(uint64_t start, uint64_t newStart, uint64_t length, CopyPrediction* prediction,
                   Differences& difference) {
    SiteCarry carry;
    const unsigned char* held = gathered_.Take(length);
    const uint64_t end = start + length;
    for (uint64_t position = start; position < end;) {
      const uint64_t left = end - position;
      uint64_t pieceEnd = position + (left < kChunkSize ? left : kChunkSize);
      uint32_t lookahead = 0;
      if (prediction != nullptr) {
        pieceEnd = prediction->PieceEnd(position, pieceEnd, end);
        const uint64_t after = end - pieceEnd;
        lookahead = static_cast<uint32_t>(
            after < prediction->Lookahead() ? after : prediction->Lookahead());
      }
      const uint32_t piece = static_cast<uint32_t>(pieceEnd - position);
      uint32_t got = 0;
      if (held != nullptr) {
        // A gathered copy is short: one piece, nothing to look ahead to.
        std::memcpy(bytes_.get(), held, piece);
      } else if (!source_.ReadAt(position, bytes_.get(), piece + lookahead, &got) ||
                 got != piece + lookahead) {
        return DecodeError::SourceUnreadable;
      }
      if (prediction != nullptr) {
        prediction->Predict(position, start, newStart, end, bytes_.get(), piece, lookahead, carry);
      }
      if (DecodeError error = difference.Add(bytes_.get(), out_.get() + filled_, piece);
          error != DecodeError::None) {
        return error;
      }
      if (!Emitted(piece)) return DecodeError::SinkFailed;
      position = pieceEnd;
    }
    return DecodeError::None;
  }

  DecodeError Insert(uint64_t length, ByteStream& insertion) {
    while (length > 0) {
      const uint32_t chunk = static_cast<uint32_t>(length < kChunkSize ? length : kChunkSize);
      if (DecodeError error = ReadExactly(insertion, out_.get() + filled_, chunk);
          error != DecodeError::None) {
        return error;
      }
      if (!Emitted(chunk)) return DecodeError::SinkFailed;
      length -= chunk;
    }
    return DecodeError::None;
  }

  // `length` more bytes of output are in place; a chunk or more goes on.
  bool Emitted(uint32_t length) {
    filled_ += length;
    return filled_ < kChunkSize || Flush();
  }

  bool Flush() {
    const uint32_t length = static_cast<uint32_t>(filled_);
    filled_ = 0;
    return length == 0 || sink_.Write(out_.get(), length);
  }

  SourceWindow source_;
  GatheredCopies& gathered_;
  uint64_t decodedSize_;
  DecodeSink& sink_;
  DecodeBuffer bytes_;
  DecodeBuffer scratch_;
  DecodeBuffer out_;
  size_t filled_ = 0;  // bytes of output in out_ not yet passed on
};

// An empty source for a delta that needs none.
class NoSource : public ByteSource {
 public:
  uint64_t Size() const override { return 0; }
  bool ReadAt(uint64_t, void*, uint32_t, uint32_t* bytesRead) override {
    *bytesRead = 0;
    return true;
  }
};

// Decodes with `control` read once more first (`firstReading`, a second
// reading of the same stream): the short copies are gathered from it, and
// the filters take what they need of the copies beforehand.
// `references` is loaded already for filter 2.
DecodeError Apply(const DecodeRequest& request, const DeltaHeader& header,
                  ReferenceDelta* references, DecodeSink& sink, ByteStream& control,
                  ByteStream& firstReading, ByteStream& difference, ByteStream& insertion) {
  NoSource none;
  ByteSource* source = request.source != nullptr ? request.source : &none;
  CopyMap map(header.mapMinimum);
  GatheredCopies gathered;
  DecodeError error = DecodeError::None;
  if (header.filter == DELTA_FILTER_PE_REFERENCES) {
    error = references->Prepare(firstReading, request.decodedSize, &gathered);
    source = references;
  } else {
    error = ReadCopies(firstReading, source->Size(), request.decodedSize,
                       header.filter == DELTA_FILTER_X86_BRANCHES ? &map : nullptr, &gathered);
  }
  if (error == DecodeError::None) error = gathered.Fill(*source);
  if (error != DecodeError::None) return error;
  DeltaApplier applier(*source, gathered, request.decodedSize, sink);
  if ((error = applier.Allocate()) != DecodeError::None) return error;
  BranchPrediction branches(map, source->Size(), applier.Scratch());
  ReferencePrediction referencePrediction(references->model);
  CopyPrediction* prediction = nullptr;
  StreamReader reader(control, DecodeError::ControlNumber);
  if (header.filter == DELTA_FILTER_X86_BRANCHES) prediction = &branches;
  if (header.filter == DELTA_FILTER_PE_REFERENCES) {
    if ((error = references->SkipPreamble(reader)) != DecodeError::None) return error;
    prediction = &referencePrediction;
  }
  if (!header.sparse) {
    DenseDifferences dense(difference);
    return applier.Run(reader, prediction, dense, insertion);
  }
  SparseDifferences sparse(difference);
  return applier.Run(reader, prediction, sparse, insertion);
}

// The installed file's references, for filter 2, before any stream is read.
DecodeError LoadReferences(const DecodeRequest& request, const DeltaHeader& header,
                           ReferenceDelta* references) {
  if (header.filter != DELTA_FILTER_PE_REFERENCES) return DecodeError::None;
  return references->Load(request.source, request.worker);
}

DecodeError DecodeSeparate(const DecodeRequest& request, const DeltaHeader& header,
                           DecodeSink& sink) {
  const uint64_t begin = request.storedBegin + header.size;
  const uint64_t differenceBegin = begin + header.controlStored;
  const uint64_t insertionBegin = differenceBegin + header.differenceStored;
  const uint64_t insertionStored = request.storedBegin + request.storedSize - insertionBegin;
  ReferenceDelta references(header.mapMinimum);
  ZstdStream control, firstReading, difference, insertion;
  DecodeError error = LoadReferences(request, header, &references);
  if (error == DecodeError::None)
    error = control.Open(request.stored, begin, header.controlStored, true);
  if (error == DecodeError::None) {
    error = firstReading.Open(request.stored, begin, header.controlStored, true);
  }
  if (error == DecodeError::None) {
    error = difference.Open(request.stored, differenceBegin, header.differenceStored, true);
  }
  if (error == DecodeError::None) {
    error = insertion.Open(request.stored, insertionBegin, insertionStored, true);
  }
  if (error != DecodeError::None) return error;
  return Apply(request, header, &references, sink, control, firstReading, difference, insertion);
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
                        const ReferenceDelta* references, size_t* controlSize,
                        size_t* differenceSize) {
  MemoryStream stream(bytes, size);
  StreamReader control(stream, DecodeError::ControlNumber);
  if (references != nullptr) {
    if (DecodeError error = references->SkipPreamble(control); error != DecodeError::None) {
      return error;
    }
  }
  // The source's bounds are checked when the commands are applied.
  CommandReader commands(control, UINT64_MAX, decodedSize);
  uint64_t copied = 0;
  while (!commands.Done()) {
    uint64_t position = 0, copy = 0, insert = 0;
    if (DecodeError error = commands.Next(&position, &copy, &insert); error != DecodeError::None) {
      return error;
    }
    copied += copy;
  }
  // What follows the commands must be the differences and the insertions.
  const uint64_t used = control.Consumed();
  if (size - used != decodedSize) return DecodeError::SizeMismatch;
  *controlSize = static_cast<size_t>(used);
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
  ReferenceDelta references(header.mapMinimum);
  if (DecodeError error = LoadReferences(request, header, &references);
      error != DecodeError::None) {
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
                        header.filter == DELTA_FILTER_PE_REFERENCES ? &references : nullptr,
                        &controlSize, &differenceSize);
  }
  if (error != DecodeError::None) return error;
  const unsigned char* bytes = streams.get();
  MemoryStream control(bytes, controlSize);
  MemoryStream firstReading(bytes, controlSize);
  MemoryStream difference(bytes + controlSize, differenceSize);
  MemoryStream insertion(bytes + controlSize + differenceSize,
                         static_cast<size_t>(total) - controlSize - differenceSize);
  return Apply(request, header, &references, sink, control, firstReading, difference, insertion);
}

}  // namespace

// Methods 2 and 3: the source whole in memory as the frame's prefix; for
// method 3 its branches converted, and the new file's restored on the way out
// (or, with `restore` false, the flag stream only read to its end).
DecodeError DecodeWithPrefix(const DecodeRequest& request, bool branches, bool restore,
                             DecodeSink& sink) {
  const uint64_t sourceSize = SourceSize(request);
  if (sourceSize > DELTA_PREFIX_MAX) return DecodeError::PrefixTooLarge;
  X86Streams where;
  where.mainBegin = request.storedBegin + 1;
  where.mainSize = request.storedSize - 1;
  ZstdStream flags;
  if (branches) {
    DecodeError error = LocateX86Streams(request, 1, &where);
    if (error == DecodeError::None) {
      error = flags.Open(request.stored, where.flagsBegin, where.flagsSize, true);
    }
    if (error != DecodeError::None) return error;
  }
  // Not even a frame header: damaged, whatever the stream would say of nothing.
  if (where.mainSize == 0) return DecodeError::ZstdFrameCut;
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
  if (branches) ConvertX86Sites(prefix.get(), static_cast<size_t>(sourceSize), [](bool) {});
  ZstdStream frame;
  DecodeError error = frame.Open(request.stored, where.mainBegin, where.mainSize, true);
  if (error == DecodeError::None) {
    error = frame.UsePrefix(prefix.get(), static_cast<size_t>(sourceSize));
  }
  X86BranchRestorer restorer(flags);
  for (uint64_t left = request.decodedSize; error == DecodeError::None && left > 0;) {
    const size_t want = static_cast<size_t>(left < kChunkSize ? left : kChunkSize);
    error = ReadExactly(frame, chunk.get(), want);
    if (error == DecodeError::None && branches && restore) {
      error = restorer.Restore(chunk.get(), want);
    }
    if (error == DecodeError::None && !sink.Write(chunk.get(), static_cast<uint32_t>(want))) {
      error = DecodeError::SinkFailed;
    }
    left -= want;
  }
  // One frame only: the prefix is gone once it ends.
  if (error == DecodeError::None) error = frame.Finish();
  if (error == DecodeError::None && branches && !restore) {
    for (size_t produced = kChunkSize; error == DecodeError::None && produced == kChunkSize;) {
      error = flags.Read(chunk.get(), kChunkSize, &produced);
    }
  }
  if (error == DecodeError::None && branches) error = restore ? restorer.Finish() : flags.Finish();
  return error;
}

DecodeError DecodeDelta(const DecodeRequest& request, DecodeSink& sink) {
  unsigned char method = 0;
  uint32_t got = 0;
  if (request.storedSize == 0) return DecodeError::DeltaEmpty;
  if (!request.stored->ReadAt(request.storedBegin, &method, 1, &got) || got != 1) {
    return DecodeError::StoredUnreadable;
  }
  if (method == DELTA_METHOD_SOURCE_PREFIX || method == DELTA_METHOD_SOURCE_PREFIX_X86) {
    return DecodeWithPrefix(request, method == DELTA_METHOD_SOURCE_PREFIX_X86, true, sink);
  }
  DeltaHeader header;
  if (DecodeError error = ReadHeader(request, &header); error != DecodeError::None) return error;
  return header.packed ? DecodePacked(request, header, sink)
                       : DecodeSeparate(request, header, sink);
}

DeltaWay ReadDeltaWay(const DecodeRequest& request) {
  unsigned char bytes[2] = {};
  const uint32_t want = request.storedSize < 2 ? static_cast<uint32_t>(request.storedSize) : 2;
  uint32_t got = 0;
  if (want == 0 || !request.stored->ReadAt(request.storedBegin, bytes, want, &got) || got != want) {
    return DeltaWay::Unknown;
  }
  if (bytes[0] == DELTA_METHOD_SOURCE_PREFIX) return DeltaWay::SourcePrefix;
  if (bytes[0] == DELTA_METHOD_SOURCE_PREFIX_X86) return DeltaWay::SourcePrefixX86Branches;
  if (bytes[0] != DELTA_METHOD_COPY_ADD || want < 2) return DeltaWay::Unknown;
  switch (bytes[1] & DELTA_FILTER_MASK) {
    case DELTA_FILTER_NONE:
      return DeltaWay::Copies;
    case DELTA_FILTER_X86_BRANCHES:
      return DeltaWay::CopiesX86Branches;
    case DELTA_FILTER_PE_REFERENCES:
      return DeltaWay::CopiesImageReferences;
    default:
      return DeltaWay::Unknown;
  }
}

DecodeError CheckDeltaStreams(const DecodeRequest& request) {
  DeltaHeader header;
  if (request.storedSize == 0) return DecodeError::DeltaEmpty;
  if (ReadDeltaWay(request) == DeltaWay::SourcePrefixX86Branches) {
    struct : DecodeSink {
      bool Write(const unsigned char*, uint32_t) override { return true; }
    } discard;
    return DecodeWithPrefix(request, true, false, discard);
  }
  if (DecodeError error = ReadHeader(request, &header); error != DecodeError::None) return error;
  const uint64_t begin = request.storedBegin + header.size;
  const uint64_t end = request.storedBegin + request.storedSize;
  uint64_t regions[3][2] = {{begin, header.controlStored},
                            {begin + header.controlStored, header.differenceStored},
                            {begin + header.controlStored + header.differenceStored, 0}};
  regions[2][1] = end - regions[2][0];
  if (header.packed) {
    uint64_t total = 0;
    if (DecodeError error = PackedSize(request, begin, &total); error != DecodeError::None) {
      return error;
    }
    regions[0][1] = end - begin;
  }
  DecodeBuffer chunk = AllocateDecodeBuffer(kChunkSize);
  if (!chunk) return DecodeError::OutOfMemory;
  for (int i = 0; i < (header.packed ? 1 : 3); ++i) {
    ZstdStream stream;
    DecodeError error = stream.Open(request.stored, regions[i][0], regions[i][1], true);
    for (size_t produced = kChunkSize; error == DecodeError::None && produced == kChunkSize;) {
      error = stream.Read(chunk.get(), kChunkSize, &produced);
    }
    if (error == DecodeError::None) error = stream.Finish();
    if (error != DecodeError::None) return error;
  }
  return DecodeError::None;
}
