// The x86 branch filter's prediction: what the decoder computes a chunk at a
// time must be what the encoder computed for the whole copy, and a call
// whose target moved must come out predicted exactly.
#include "update/codec/branch_prediction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "codec_test_support.h"

namespace {

void PutCall(Bytes& code, size_t at, int32_t displacement) {
  code[at] = 0xE8;
  for (int k = 0; k < 4; ++k)
    code[at + 1 + k] = static_cast<unsigned char>(displacement >> (8 * k));
}

int32_t DisplacementAt(const Bytes& code, size_t at) {
  uint32_t value = 0;
  for (int k = 0; k < 4; ++k) value |= static_cast<uint32_t>(code[at + 1 + k]) << (8 * k);
  return static_cast<int32_t>(value);
}

Bytes PredictWhole(const CopyMap& map, uint64_t oldStart, uint32_t shift, const Bytes& old,
                   size_t length) {
  Bytes out(length);
  SiteCarry carry;
  PredictBranches(map, oldStart, shift, old.size(), old.data() + oldStart, length, 0, out.data(),
                  carry);
  return out;
}

TEST(BranchPrediction, ACallIntoMovedCodeIsPredictedExactly) {
  // Old: a call at 100 to a function at 5000. New: 64 bytes were inserted at
  // 1000, so the function sits at 5064 and the call's displacement grew by 64.
  Bytes old(8000, 0x90);
  PutCall(old, 100, 5000 - 105);
  CopyMap map(16);
  ASSERT_TRUE(map.Add(0, 0, 1000));        // the part before the insertion stays
  ASSERT_TRUE(map.Add(1000, 1064, 7000));  // the rest moved up by 64
  map.Finish();
  const Bytes predicted = PredictWhole(map, 0, 0, old, 1000);
  EXPECT_EQ(DisplacementAt(predicted, 100), 5064 - 105);
  // A call inside the moved part to a target before the insertion gets 64
  // shorter; one to a target that moved along keeps its displacement.
  PutCall(old, 2000, 300 - 2005);
  PutCall(old, 3000, 6000 - 3005);
  const Bytes moved = PredictWhole(map, 1000, 64, old, 7000);
  EXPECT_EQ(DisplacementAt(moved, 1000), 300 - 2005 - 64);
  EXPECT_EQ(DisplacementAt(moved, 2000), 6000 - 3005);
  // Targets outside the old file are left alone.
  PutCall(old, 4000, 1000000);
  EXPECT_EQ(DisplacementAt(PredictWhole(map, 1000, 64, old, 7000), 3000), 1000000);
}

TEST(BranchPrediction, ChunkedPredictionEqualsWholePrediction) {
  // Dense calls, so that sites straddle every kind of chunk boundary.
  Bytes old = ProgramLike(20000, 21);
  for (size_t at = 7; at + 5 < old.size(); at += 13)
    PutCall(old, at, static_cast<int32_t>(at % 997) - 400);
  CopyMap map(1);
  ASSERT_TRUE(map.Add(0, 0, 9000));
  ASSERT_TRUE(map.Add(9000, 9100, 11000));
  map.Finish();
  const uint64_t start = 3;
  const size_t length = old.size() - start;
  const Bytes whole = PredictWhole(map, start, 17, old, length);
  for (size_t chunk : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 64u, 4099u}) {
    Bytes out;
    SiteCarry carry;
    for (size_t done = 0; done < length;) {
      const size_t take = std::min(chunk, length - done);
      const size_t lookahead = std::min<size_t>(4, length - done - take);
      Bytes piece(take);
      PredictBranches(map, start + done, 17, old.size(), old.data() + start + done, take, lookahead,
                      piece.data(), carry);
      out.insert(out.end(), piece.begin(), piece.end());
      done += take;
    }
    EXPECT_TRUE(out == whole) << "chunks of " << chunk;
  }
}

TEST(BranchPrediction, TheMapTakesLongCopiesOnlyAndTheFirstOfTwoFromOnePlace) {
  CopyMap map(100);
  ASSERT_TRUE(map.Add(500, 600, 99));   // too short
  ASSERT_TRUE(map.Add(500, 800, 100));  // first from 500: +300
  ASSERT_TRUE(map.Add(500, 900, 200));  // second from 500, ignored
  ASSERT_TRUE(map.Add(0, 10, 100));
  map.Finish();
  EXPECT_EQ(map.ShiftAt(0), 10u);
  EXPECT_EQ(map.ShiftAt(499), 10u);
  EXPECT_EQ(map.ShiftAt(500), 300u);
  EXPECT_EQ(map.ShiftAt(100000), 300u);
  CopyMap empty(1);
  empty.Finish();
  EXPECT_EQ(empty.ShiftAt(5), 0u);
}

}  // namespace
