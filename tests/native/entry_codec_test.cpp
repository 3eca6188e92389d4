// The codec end to end: what mkpatch's encoder writes, the updater's decoder
// turns back into the very bytes, and malformed stored bytes never make it
// write more than the file's size or read outside the source.
#include <gtest/gtest.h>

#include <zstd.h>

#include "codec_test_support.h"
#include "mkpatch/codec/delta_writer.h"
#include "mkpatch/codec/encoding_levels.h"
#include "mkpatch/codec/varint_write.h"
#include "mkpatch/codec/x86_branch_convert.h"
#include "mkpatch/codec/zstd_encode.h"
#include "update/base/little_endian.h"
#include "update/codec/control_reader.h"
#include "update/codec/delta_decoder.h"
#include "update/codec/delta_format.h"
#include "update/codec/varint.h"
#include "update/codec/x86_branch_filter.h"

namespace {

Bytes Decoded(const EncodedData& data, size_t decodedSize, const Bytes& source) {
  Bytes out;
  EXPECT_EQ(DecodeInMemory(data.coding, data.bytes, decodedSize, source, &out), DecodeError::None);
  return out;
}

// How a delta the encoder wrote makes its file.
DeltaWay WayOf(const EncodedData& data) {
  MemoryByteSource stored(data.bytes.data(), data.bytes.size());
  DecodeRequest request;
  request.stored = &stored;
  request.storedSize = data.bytes.size();
  return ReadDeltaWay(request);
}

void ExpectRoundTrip(const Bytes& old, const Bytes& target) {
  const EncodedData data = EncodeChanged(old.data(), old.size(), target.data(), target.size());
  EXPECT_TRUE(Decoded(data, target.size(), old) == target)
      << "coding " << static_cast<int>(data.coding) << ", " << old.size() << " -> " << target.size()
      << " bytes";
}

TEST(EntryCodec, ChangedFilesRoundTripWhateverTheirShape) {
  const Bytes program = ProgramLike(300000, 1);
  ExpectRoundTrip(program, NextBuild(program, 2));
  ExpectRoundTrip(program, program);                                       // unchanged
  ExpectRoundTrip(program, Bytes());                                       // shrinks to nothing
  ExpectRoundTrip(Bytes(), program);                                       // grows from nothing
  ExpectRoundTrip(Bytes(1, 'x'), Bytes(1, 'y'));                           // single bytes
  ExpectRoundTrip(program, Bytes(program.begin() + 1000, program.end()));  // cut in front
  Bytes doubled = program;
  doubled.insert(doubled.end(), program.begin(), program.end());
  ExpectRoundTrip(program, doubled);                            // repeated
  ExpectRoundTrip(Bytes(70000, 0), Bytes(90000, 0));            // long runs
  ExpectRoundTrip(ProgramLike(5000, 3), ProgramLike(6000, 4));  // unrelated
}

TEST(EntryCodec, ADeltaOfASimilarBuildIsMuchSmallerThanTheFile) {
  const Bytes old = ProgramLike(400000, 5);
  const Bytes next = NextBuild(old, 6);
  const EncodedData delta = EncodeChanged(old.data(), old.size(), next.data(), next.size());
  const EncodedData whole = EncodeWhole(next.data(), next.size());
  EXPECT_EQ(delta.coding, EntryCoding::Delta);
  EXPECT_LT(delta.bytes.size() * 4, whole.bytes.size());
  EXPECT_TRUE(Decoded(delta, next.size(), old) == next);
}

TEST(EntryCodec, WholeFilesAreStoredWhenCompressionDoesNotHelp) {
  Bytes noise(4096);
  uint32_t state = 7;
  for (unsigned char& byte : noise)
    byte = static_cast<unsigned char>((state = state * 1103515245u + 12345u) >> 16);
  const EncodedData stored = EncodeWhole(noise.data(), noise.size());
  EXPECT_EQ(stored.coding, EntryCoding::Stored);
  EXPECT_TRUE(stored.bytes == noise);
  const Bytes text = ProgramLike(100000, 8);
  const EncodedData compressed = EncodeWhole(text.data(), text.size());
  EXPECT_EQ(compressed.coding, EntryCoding::Lzma);
  EXPECT_LT(compressed.bytes.size(), CompressZstd(text.data(), text.size(), 22).size());
  EXPECT_TRUE(Decoded(compressed, text.size(), Bytes()) == text);
  const EncodedData empty = EncodeWhole(nullptr, 0);
  EXPECT_EQ(empty.coding, EntryCoding::Stored);
  EXPECT_TRUE(empty.bytes.empty());
}

TEST(EntryCodec, ConvertedBranchesRestoreExactlyAcrossChunks) {
  const Bytes code = CallDense(300000);
  const X86Split split = ConvertX86Branches(code.data(), code.size());
  EXPECT_FALSE(split.main == code);
  const Bytes stored = CompressZstdX86(split, 3);
  Bytes out;
  ASSERT_EQ(DecodeInMemory(EntryCoding::ZstdX86, stored, code.size(), Bytes(), &out),
            DecodeError::None);
  EXPECT_TRUE(out == code);
  // Whole code compresses better converted, and the encoder takes that way.
  const EncodedData whole = EncodeWhole(code.data(), code.size());
  EXPECT_EQ(whole.coding, EntryCoding::ZstdX86);
  EXPECT_LT(whole.bytes.size(), CompressZstd(code.data(), code.size(), 19).size());
  EXPECT_TRUE(Decoded(whole, code.size(), Bytes()) == code);
}

TEST(EntryCodec, ALargeFileWithNothingInCommonShipsWhole) {
  // Past the size where every way is written in full, the whole file is
  // ranked with the deltas: new code against an old file of noise goes with
  // its branches converted, whole or with the noise as a prefix that gives
  // nothing (zstd's tables for a prefix frame make it a little smaller), and
  // never by copies of the noise.
  Bytes noise(400000);
  uint32_t state = 11;
  for (unsigned char& byte : noise)
    byte = static_cast<unsigned char>((state = state * 1103515245u + 12345u) >> 16);
  const Bytes code = CallDense(400000);
  const EncodedData data = EncodeChanged(noise.data(), noise.size(), code.data(), code.size());
  const EncodedData whole = EncodeWhole(code.data(), code.size());
  ASSERT_EQ(whole.coding, EntryCoding::ZstdX86);
  EXPECT_LE(data.bytes.size(), whole.bytes.size());
  if (data.coding == EntryCoding::Delta) {
    EXPECT_EQ(WayOf(data), DeltaWay::SourcePrefixX86Branches);
  } else {
    EXPECT_EQ(data.coding, EntryCoding::ZstdX86);
  }
  EXPECT_TRUE(Decoded(data, code.size(), noise) == code);
}

TEST(EntryCodecRefusal, BranchFlagsMustMatchTheOpcodes) {
  const Bytes code = CallDense(5000);
  X86Split split = ConvertX86Branches(code.data(), code.size());
  Bytes out;
  X86Split bad = split;
  bad.flags[3] = 2;
  EXPECT_EQ(
      DecodeInMemory(EntryCoding::ZstdX86, CompressZstdX86(bad, 3), code.size(), Bytes(), &out),
      DecodeError::X86Flag);
  bad = split;
  bad.flags.pop_back();
  EXPECT_NE(
      DecodeInMemory(EntryCoding::ZstdX86, CompressZstdX86(bad, 3), code.size(), Bytes(), &out),
      DecodeError::None);
  bad = split;
  bad.flags.push_back(0);
  EXPECT_NE(
      DecodeInMemory(EntryCoding::ZstdX86, CompressZstdX86(bad, 3), code.size(), Bytes(), &out),
      DecodeError::None);
  // A site cut short by the end of the file.
  bad = split;
  bad.main.resize(bad.main.size() - 2);
  EXPECT_NE(
      DecodeInMemory(EntryCoding::ZstdX86, CompressZstdX86(bad, 3), code.size() - 2, Bytes(), &out),
      DecodeError::None);
}

TEST(EntryCodec, EncodingIsDeterministic) {
  const Bytes old = ProgramLike(200000, 9);
  const Bytes next = NextBuild(old, 10);
  EXPECT_TRUE(EncodeChanged(old.data(), old.size(), next.data(), next.size()).bytes ==
              EncodeChanged(old.data(), old.size(), next.data(), next.size()).bytes);
}

// A prefix delta as mkpatch writes one, of method 2 or 3.
Bytes PrefixDeltaOf(uint8_t method, const Bytes& old, const Bytes& next, int level) {
  Bytes delta = {method};
  const Bytes rest =
      method == DELTA_METHOD_SOURCE_PREFIX
          ? CompressZstdWithPrefix(next.data(), next.size(), old.data(), old.size(), level)
          : CompressZstdX86WithPrefix(ConvertX86Branches(next.data(), next.size()),
                                      ConvertX86Branches(old.data(), old.size()).main, level);
  delta.insert(delta.end(), rest.begin(), rest.end());
  return delta;
}

TEST(EntryCodec, PrefixDeltasDecodeAgainstTheirSourceOnly) {
  // Releases far apart are often smaller as a frame whose window starts with
  // the old file; the encoder takes that way when it is smaller.
  const Bytes old = ProgramLike(300000, 19);
  const Bytes next = NextBuild(NextBuild(old, 20, 0x1000), 21, 0x2000);
  for (uint8_t method : {DELTA_METHOD_SOURCE_PREFIX, DELTA_METHOD_SOURCE_PREFIX_X86}) {
    SCOPED_TRACE(static_cast<int>(method));
    const Bytes delta = PrefixDeltaOf(method, old, next, 19);
    Bytes out;
    ASSERT_EQ(DecodeInMemory(EntryCoding::Delta, delta, next.size(), old, &out), DecodeError::None);
    EXPECT_TRUE(out == next);
    // Another source gives other bytes or an error, never a silent success
    // with the right bytes (the entry's MD5 then refuses them).
    Bytes other = old;
    for (size_t at = 0; at < other.size(); at += 1000) other[at] ^= 0x20;
    const DecodeError error = DecodeInMemory(EntryCoding::Delta, delta, next.size(), other, &out);
    EXPECT_TRUE(error != DecodeError::None || out != next);
    EXPECT_LE(out.size(), next.size());
  }
}

TEST(EntryCodec, PrefixDeltasConvertBranchesWhereThatIsSmaller) {
  // Code inserted in front, the calls linked again. Calls from the code that
  // moved to functions that stayed keep their targets but not their
  // displacements: converted to targets they are the old bytes again. Calls
  // to functions that moved with them keep their displacements but not their
  // targets: there the plain bytes are the old ones. The encoder writes the
  // smaller way.
  const Bytes old = CallDense(200000);
  const size_t insertAt = 3000;
  const Bytes inserted = ProgramLike(3000, 31);
  const auto moved = [&](size_t offset) {
    return offset < insertAt ? offset : offset + inserted.size();
  };
  for (bool calleesMoved : {false, true}) {
    SCOPED_TRACE(calleesMoved ? "callees moved" : "callees stayed");
    Bytes next = old;
    next.insert(next.begin() + insertAt, inserted.begin(), inserted.end());
    for (size_t site = 5; site + 5 < old.size(); site += 11) {
      const size_t callee = ReadLe32(&old[site + 1]) + static_cast<uint32_t>(site + 5);
      const size_t newCallee = calleesMoved ? moved(callee) : callee;
      WriteLe32(&next[moved(site) + 1],
                static_cast<uint32_t>(newCallee) - static_cast<uint32_t>(moved(site) + 5));
    }
    const Bytes plain = PrefixDeltaOf(DELTA_METHOD_SOURCE_PREFIX, old, next, kEncodeUltraLevel);
    const Bytes converted =
        PrefixDeltaOf(DELTA_METHOD_SOURCE_PREFIX_X86, old, next, kEncodeUltraLevel);
    if (calleesMoved) {
      EXPECT_LT(plain.size(), converted.size());
    } else {
      EXPECT_LT(converted.size() * 2, plain.size());
    }
    Bytes out;
    ASSERT_EQ(DecodeInMemory(EntryCoding::Delta, converted, next.size(), old, &out),
              DecodeError::None);
    EXPECT_TRUE(out == next);
    const EncodedData chosen = EncodeChanged(old.data(), old.size(), next.data(), next.size());
    EXPECT_LE(chosen.bytes.size(), std::min(plain.size(), converted.size()));
    EXPECT_TRUE(Decoded(chosen, next.size(), old) == next);
  }
  // Functions laid out anew in small pieces, the functions they call where
  // they were: too short for copies, and every call of the plain bytes
  // changed, but converted each piece is an old one. The encoder takes it.
  const Bytes relaid = LaidOutAnew(old);
  const EncodedData chosen = EncodeChanged(old.data(), old.size(), relaid.data(), relaid.size());
  ASSERT_EQ(chosen.coding, EntryCoding::Delta);
  EXPECT_EQ(WayOf(chosen), DeltaWay::SourcePrefixX86Branches);
  EXPECT_TRUE(Decoded(chosen, relaid.size(), old) == relaid);
}

TEST(EntryCodec, DecodesLargeFilesInBoundedChunks) {
  // More than one 64 KiB chunk per copy and per insertion, and a file larger
  // than the packed layout's limit.
  const Bytes old = ProgramLike(1300000, 11);
  Bytes next = NextBuild(old, 12);
  const Bytes fresh = ProgramLike(300000, 13);
  next.insert(next.begin() + next.size() / 2, fresh.begin(), fresh.end());
  ExpectRoundTrip(old, next);
}

// --- Malformed stored bytes -------------------------------------------------

Bytes DeltaOf(const DeltaStreams& streams, DeltaLayoutChoice layout = DeltaLayoutChoice::Separate) {
  return WriteDelta(streams, layout, 3);
}

DeltaStreams Commands(std::initializer_list<std::initializer_list<int64_t>> commands) {
  DeltaStreams streams;
  for (const auto& command : commands) {
    auto value = command.begin();
    AppendVarint(streams.control, ZigzagEncode(value[0]));
    AppendVarint(streams.control, static_cast<uint64_t>(value[1]));
    AppendVarint(streams.control, static_cast<uint64_t>(value[2]));
    streams.difference.insert(streams.difference.end(), static_cast<size_t>(value[1]), 0);
    streams.insertion.insert(streams.insertion.end(), static_cast<size_t>(value[2]), 'i');
  }
  return streams;
}

// Decodes `streams` in every layout; all must agree.
DecodeError DecodeDeltaOf(const DeltaStreams& streams, uint64_t size, const Bytes& source,
                          Bytes* out = nullptr) {
  Bytes first;
  DecodeError firstError = DecodeError::None;
  bool any = false;
  for (DeltaLayoutChoice layout : {DeltaLayoutChoice::Separate, DeltaLayoutChoice::SeparateSparse,
                                   DeltaLayoutChoice::Packed}) {
    Bytes decoded;
    const DecodeError error =
        DecodeInMemory(EntryCoding::Delta, DeltaOf(streams, layout), size, source, &decoded);
    EXPECT_LE(decoded.size(), size);
    if (!any) {
      first = decoded;
      firstError = error;
      any = true;
    } else if (error == DecodeError::None || firstError == DecodeError::None) {
      EXPECT_EQ(error, firstError) << "layout " << static_cast<int>(layout);
      EXPECT_TRUE(decoded == first);
    }
  }
  if (out != nullptr) *out = first;
  return firstError;
}

TEST(EntryCodecRefusal, CommandsOutsideTheSourceOrTheFileAreRefused) {
  const Bytes source(100, 's');
  Bytes out;
  // A hand-made delta decodes as written: a copy, a move back, an insertion.
  ASSERT_EQ(DecodeDeltaOf(Commands({{10, 5, 2}, {-15, 3, 0}}), 10, source, &out),
            DecodeError::None);
  EXPECT_EQ(out, Bytes({'s', 's', 's', 's', 's', 'i', 'i', 's', 's', 's'}));

  EXPECT_EQ(DecodeDeltaOf(Commands({{-1, 5, 0}}), 5, source), DecodeError::SeekOutside);
  EXPECT_EQ(DecodeDeltaOf(Commands({{101, 0, 5}}), 5, source), DecodeError::SeekOutside);
  EXPECT_EQ(DecodeDeltaOf(Commands({{96, 5, 0}}), 5, source), DecodeError::CopyPastSource);
  EXPECT_EQ(DecodeDeltaOf(Commands({{0, 5, 0}}), 5, Bytes(4, 's')), DecodeError::CopyPastSource);
  EXPECT_EQ(DecodeDeltaOf(Commands({{0, 0, 0}, {0, 5, 0}}), 5, source), DecodeError::CommandEmpty);
  // Commands that make more or fewer bytes than the file has.
  EXPECT_EQ(DecodeDeltaOf(Commands({{0, 5, 1}}), 5, source), DecodeError::CommandPastEnd);
  EXPECT_EQ(DecodeDeltaOf(Commands({{0, 5, 0}}), 6, source), DecodeError::StreamShort);
  // A command left over once the file is complete.
  DeltaStreams extra = Commands({{0, 5, 0}});
  AppendVarint(extra.control, 0);
  EXPECT_EQ(DecodeDeltaOf(extra, 5, source), DecodeError::StreamLong);
  // A seek the size of the whole address space.
  DeltaStreams huge;
  AppendVarint(huge.control, ZigzagEncode(INT64_MIN));
  AppendVarint(huge.control, 1);
  AppendVarint(huge.control, 0);
  huge.difference.push_back(0);
  EXPECT_EQ(DecodeDeltaOf(huge, 1, source), DecodeError::SeekOutside);
}

// The decoder reads each command one ahead of the copy it makes; a command
// that cannot be read is still refused in its turn, after those before it.
TEST(EntryCodecRefusal, CommandsReadAheadAreRefusedInTheirTurn) {
  Bytes control;
  for (const int64_t seek : {10, 20, -1000}) {
    AppendVarint(control, ZigzagEncode(seek));
    AppendVarint(control, 5);  // copy
    AppendVarint(control, 1);  // insert
  }
  MemoryStream stream(control.data(), control.size());
  StreamReader numbers(stream, DecodeError::ControlNumber);
  CommandReader reader(numbers, 100, 18);
  CommandLookahead commands(reader);
  Command command;
  ASSERT_FALSE(commands.Done());
  ASSERT_EQ(commands.Next(&command), DecodeError::None);
  EXPECT_EQ(command.position, 10u);
  EXPECT_EQ(command.newStart, 0u);
  ASSERT_NE(commands.Following(), nullptr);
  EXPECT_EQ(commands.Following()->position, 35u);
  EXPECT_EQ(commands.Following()->newStart, 6u);
  ASSERT_EQ(commands.Next(&command), DecodeError::None);
  EXPECT_EQ(command.position, 35u);
  EXPECT_EQ(command.copy, 5u);
  EXPECT_EQ(command.insert, 1u);
  // The third seeks before the source: nothing follows, yet the reading is
  // not done until it is refused.
  EXPECT_EQ(commands.Following(), nullptr);
  EXPECT_FALSE(commands.Done());
  EXPECT_EQ(commands.Next(&command), DecodeError::SeekOutside);
}

TEST(EntryCodecRefusal, UnknownMethodsAndBadHeadersAreRefused) {
  Bytes delta = DeltaOf(Commands({{0, 5, 0}}));
  Bytes out;
  const Bytes source(10, 's');
  Bytes method = delta;
  method[0] = 4;
  EXPECT_EQ(DecodeInMemory(EntryCoding::Delta, method, 5, source, &out),
            DecodeError::UnknownCoding);
  Bytes filter = delta;
  filter[1] = 3;
  EXPECT_EQ(DecodeInMemory(EntryCoding::Delta, filter, 5, source, &out),
            DecodeError::UnknownCoding);
  Bytes flags = delta;
  flags[1] = 0x10;
  EXPECT_EQ(DecodeInMemory(EntryCoding::Delta, flags, 5, source, &out),
            DecodeError::DeltaFlagsUnknown);
  Bytes sparsePacked = delta;
  sparsePacked[1] = DELTA_FLAG_SPARSE | DELTA_FLAG_PACKED;
  EXPECT_EQ(DecodeInMemory(EntryCoding::Delta, sparsePacked, 5, source, &out),
            DecodeError::DeltaFlagsUnknown);
  for (size_t cut = 0; cut < delta.size(); ++cut) {
    EXPECT_NE(DecodeInMemory(EntryCoding::Delta, Bytes(delta.begin(), delta.begin() + cut), 5,
                             source, &out),
              DecodeError::None)
        << "cut at " << cut;
    EXPECT_LE(out.size(), 5u);
  }
  // A packed frame larger than the packed layout may hold is refused before
  // it is decoded.
  Bytes big(DELTA_PACKED_MAX + 1, 0);
  Bytes packed = {DELTA_METHOD_COPY_ADD, DELTA_FLAG_PACKED};
  const Bytes frame = CompressZstd(big.data(), big.size(), 1, ZstdFrame::Magicless);
  packed.insert(packed.end(), frame.begin(), frame.end());
  EXPECT_EQ(DecodeInMemory(EntryCoding::Delta, packed, big.size(), source, &out),
            DecodeError::PackedSize);
}

// What mkpatch list and diff show of a delta: read from its own first
// bytes only, whatever lies around them in the payload.
TEST(EntryCodec, ADeltasWayIsReadFromItsFirstBytes) {
  const auto wayOf = [](const Bytes& payload, uint64_t begin, uint64_t size) {
    MemoryByteSource stored(payload.data(), payload.size());
    DecodeRequest request;
    request.stored = &stored;
    request.storedBegin = begin;
    request.storedSize = size;
    return ReadDeltaWay(request);
  };
  const auto alone = [&](const Bytes& delta) { return wayOf(delta, 0, delta.size()); };
  EXPECT_EQ(alone({DELTA_METHOD_COPY_ADD, DELTA_FILTER_NONE, 9}), DeltaWay::Copies);
  EXPECT_EQ(alone({DELTA_METHOD_COPY_ADD, DELTA_FILTER_X86_BRANCHES | DELTA_FLAG_SPARSE}),
            DeltaWay::CopiesX86Branches);
  EXPECT_EQ(alone({DELTA_METHOD_COPY_ADD, DELTA_FILTER_PE_REFERENCES | DELTA_FLAG_PACKED}),
            DeltaWay::CopiesImageReferences);
  EXPECT_EQ(alone({DELTA_METHOD_SOURCE_PREFIX}), DeltaWay::SourcePrefix);
  EXPECT_EQ(alone({DELTA_METHOD_SOURCE_PREFIX_X86, 9}), DeltaWay::SourcePrefixX86Branches);
  EXPECT_EQ(alone({DELTA_METHOD_COPY_ADD, 3}), DeltaWay::Unknown);  // no such filter
  EXPECT_EQ(alone({4, 0}), DeltaWay::Unknown);                      // no such method
  EXPECT_EQ(alone({DELTA_METHOD_COPY_ADD}), DeltaWay::Unknown);     // ends before its flags
  EXPECT_EQ(alone({}), DeltaWay::Unknown);
  // Inside a payload: from where the entry's bytes begin, and never from the
  // next entry's.
  const Bytes payload = {DELTA_METHOD_COPY_ADD, DELTA_FILTER_PE_REFERENCES,
                         DELTA_METHOD_SOURCE_PREFIX, DELTA_METHOD_COPY_ADD,
                         DELTA_FILTER_PE_REFERENCES};
  EXPECT_EQ(wayOf(payload, 2, 1), DeltaWay::SourcePrefix);
  EXPECT_EQ(wayOf(payload, 3, 1), DeltaWay::Unknown);
  EXPECT_EQ(wayOf(payload, 3, 2), DeltaWay::CopiesImageReferences);
  EXPECT_STREQ(DeltaWayText(DeltaWay::CopiesImageReferences), "copies, image references");
  EXPECT_STREQ(DeltaWayText(DeltaWay::SourcePrefixX86Branches), "old file as prefix, x86 branches");
  EXPECT_STREQ(DeltaWayText(DeltaWay::Unknown), "unknown");
  // What the encoder writes says its way: an x86 image's delta models its
  // references, plain bytes go by copies or as the old file's prefix.
  const Bytes program = ProgramLike(300000, 1);
  const Bytes next = NextBuild(program, 2);
  const EncodedData plain = EncodeChanged(program.data(), program.size(), next.data(), next.size());
  ASSERT_EQ(plain.coding, EntryCoding::Delta);
  const DeltaWay plainWay = alone(plain.bytes);
  EXPECT_TRUE(plainWay == DeltaWay::Copies || plainWay == DeltaWay::CopiesX86Branches ||
              plainWay == DeltaWay::SourcePrefix || plainWay == DeltaWay::SourcePrefixX86Branches)
      << DeltaWayText(plainWay);
}

TEST(EntryCodecRefusal, DamagedStreamsNeverOverrunTheFile) {
  const Bytes old = ProgramLike(200000, 14);
  const Bytes next = NextBuild(old, 15);
  for (EncodedData data : {EncodeChanged(old.data(), old.size(), next.data(), next.size()),
                           EncodeWhole(next.data(), next.size())}) {
    ASSERT_NE(data.coding, EntryCoding::Stored);
    for (size_t at = 0; at < data.bytes.size(); at += 1 + data.bytes.size() / 97) {
      Bytes damaged = data.bytes;
      damaged[at] ^= 0x41;
      Bytes out;
      const DecodeError error = DecodeInMemory(data.coding, damaged, next.size(), old, &out);
      EXPECT_LE(out.size(), next.size());
      // Damage may go unnoticed by the stream (the entry's MD5 catches it),
      // but a clean result is always of the file's size.
      if (error == DecodeError::None) {
        EXPECT_EQ(out.size(), next.size());
      }
    }
  }
}

TEST(EntryCodecRefusal, APrefixDeltaNeedsASourceWithinTheBound) {
  const Bytes big(DELTA_PREFIX_MAX + 1, 'o');
  const Bytes next(1000, 'o');
  Bytes delta = {DELTA_METHOD_SOURCE_PREFIX};
  const Bytes frame = CompressZstdWithPrefix(next.data(), next.size(), big.data(), big.size(), 1);
  delta.insert(delta.end(), frame.begin(), frame.end());
  Bytes out;
  EXPECT_EQ(DecodeInMemory(EntryCoding::Delta, delta, next.size(), big, &out),
            DecodeError::PrefixTooLarge);
  EXPECT_TRUE(out.empty());
  // Within the bound it decodes.
  const Bytes small(DELTA_PREFIX_MAX, 'o');
  delta = {DELTA_METHOD_SOURCE_PREFIX};
  const Bytes fits =
      CompressZstdWithPrefix(next.data(), next.size(), small.data(), small.size(), 1);
  delta.insert(delta.end(), fits.begin(), fits.end());
  ASSERT_EQ(DecodeInMemory(EntryCoding::Delta, delta, next.size(), small, &out), DecodeError::None);
  EXPECT_TRUE(out == next);
}

TEST(EntryCodecRefusal, MalformedPrefixDeltasAreRefusedAsDamaged) {
  const Bytes old = CallDense(20000);
  const Bytes next = NextBuild(old, 5);
  Bytes out;
  const auto refusal = [&](const Bytes& delta) {
    const DecodeError error = DecodeInMemory(EntryCoding::Delta, delta, next.size(), old, &out);
    EXPECT_LE(out.size(), next.size());
    return error;
  };
  // Nothing after the method byte, or the main stream's size malformed or
  // past the entry's end.
  EXPECT_EQ(refusal({DELTA_METHOD_SOURCE_PREFIX}), DecodeError::ZstdFrameCut);
  EXPECT_EQ(refusal({DELTA_METHOD_SOURCE_PREFIX_X86}), DecodeError::X86MainSize);
  EXPECT_EQ(refusal({DELTA_METHOD_SOURCE_PREFIX_X86, 0x80}), DecodeError::X86MainSize);
  EXPECT_EQ(refusal({DELTA_METHOD_SOURCE_PREFIX_X86, 0xE8, 0x07, 1, 2, 3}),
            DecodeError::X86MainSize);
  EXPECT_EQ(refusal({DELTA_METHOD_SOURCE_PREFIX_X86, 0}), DecodeError::ZstdFrameCut);
  // The new file's flags: one that is neither 0 nor 1, one missing, one
  // left over.
  const X86Split split = ConvertX86Branches(next.data(), next.size());
  const Bytes source = ConvertX86Branches(old.data(), old.size()).main;
  const auto withFlags = [&](const Bytes& flags) {
    X86Split bad = split;
    bad.flags = flags;
    Bytes delta = {DELTA_METHOD_SOURCE_PREFIX_X86};
    const Bytes rest = CompressZstdX86WithPrefix(bad, source, 3);
    delta.insert(delta.end(), rest.begin(), rest.end());
    return delta;
  };
  ASSERT_EQ(refusal(withFlags(split.flags)), DecodeError::None);
  EXPECT_TRUE(out == next);
  Bytes flags = split.flags;
  flags[flags.size() / 2] = 2;
  EXPECT_EQ(refusal(withFlags(flags)), DecodeError::X86Flag);
  flags = split.flags;
  flags.pop_back();
  EXPECT_TRUE(IsMalformed(refusal(withFlags(flags))));
  flags = split.flags;
  flags.push_back(0);
  EXPECT_TRUE(IsMalformed(refusal(withFlags(flags))));
  // The source's bound holds as for the plain way.
  const Bytes big(DELTA_PREFIX_MAX + 1, 0xE8);
  Bytes delta = {DELTA_METHOD_SOURCE_PREFIX_X86};
  const Bytes rest = CompressZstdX86WithPrefix(split, Bytes(16, 0), 1);
  delta.insert(delta.end(), rest.begin(), rest.end());
  EXPECT_EQ(DecodeInMemory(EntryCoding::Delta, delta, next.size(), big, &out),
            DecodeError::PrefixTooLarge);
  EXPECT_TRUE(out.empty());
}

TEST(EntryCodecRefusal, StoredAndZstdSizesMustMatch) {
  const Bytes text = ProgramLike(50000, 16);
  Bytes out;
  EXPECT_EQ(DecodeInMemory(EntryCoding::Stored, text, text.size() + 1, Bytes(), &out),
            DecodeError::SizeMismatch);
  const Bytes frame = CompressZstd(text.data(), text.size(), 3);
  EXPECT_EQ(DecodeInMemory(EntryCoding::Zstd, frame, text.size() - 1, Bytes(), &out),
            DecodeError::SizeMismatch);
  EXPECT_EQ(out.size(), text.size() - 1);
  EXPECT_EQ(DecodeInMemory(EntryCoding::Zstd, frame, text.size() + 1, Bytes(), &out),
            DecodeError::SizeMismatch);
  // Two frames back to back are one file.
  Bytes twice = frame;
  twice.insert(twice.end(), frame.begin(), frame.end());
  ASSERT_EQ(DecodeInMemory(EntryCoding::Zstd, twice, 2 * text.size(), Bytes(), &out),
            DecodeError::None);
  EXPECT_TRUE(Bytes(out.begin() + text.size(), out.end()) == text);
}

TEST(EntryCodecRefusal, FramesWithAWindowBeyondTheBoundAreRefused) {
  // A frame whose window the updater would have to find memory for.
  const size_t size = (size_t(1) << (ENTRY_ZSTD_WINDOW_LOG_MAX + 1)) + 4096;
  const Bytes big = ProgramLike(size, 17);
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, 1);
  ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, ENTRY_ZSTD_WINDOW_LOG_MAX + 1);
  Bytes frame(ZSTD_compressBound(size));
  const size_t written = ZSTD_compress2(context, frame.data(), frame.size(), big.data(), size);
  ZSTD_freeCCtx(context);
  ASSERT_FALSE(ZSTD_isError(written));
  frame.resize(written);
  Bytes out;
  EXPECT_EQ(DecodeInMemory(EntryCoding::Zstd, frame, size, Bytes(), &out),
            DecodeError::ZstdFrameBad);
  // What mkpatch writes for a file as large stays within the bound, even at
  // the level whose own window is 2^27.
  const Bytes zeros(size, 0);
  const Bytes ours = CompressZstd(zeros.data(), size, 22);
  EXPECT_EQ(DecodeInMemory(EntryCoding::Zstd, ours, size, Bytes(), &out), DecodeError::None);
}

TEST(EntryCodecRefusal, AFailedWriteStopsDecoding) {
  const Bytes text = ProgramLike(300000, 18);
  const EncodedData data = EncodeWhole(text.data(), text.size());
  MemoryByteSource stored(data.bytes.data(), data.bytes.size());
  DecodeRequest request;
  request.coding = data.coding;
  request.stored = &stored;
  request.storedSize = data.bytes.size();
  request.decodedSize = text.size();
  MemorySink sink;
  sink.failAfter = 100000;
  EXPECT_EQ(DecodeEntryData(request, sink), DecodeError::SinkFailed);
  EXPECT_LE(sink.bytes.size(), 100000u);
}

}  // namespace
