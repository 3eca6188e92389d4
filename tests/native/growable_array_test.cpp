// The decoder's tables: every value kept through every growth of the block
// (from the C library's small blocks up to the sizes it maps), room appended
// after the values and given back, and sizes past what can be addressed
// refused before any allocation, the values as they were; a move leaves
// the array it came from empty.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "update/codec/growable_array.h"

namespace {

struct Entry {
  uint32_t key;
  uint64_t value;
};

uint64_t ValueOf(uint32_t key) { return uint64_t(key) * 2654435761u + 1; }

TEST(GrowableArray, KeepsEveryValueThroughEveryGrowth) {
  // Two million entries of 16 bytes: some thirty growths, the last ones of
  // blocks of megabytes.
  constexpr uint32_t kCount = 2u << 20;
  GrowableArray<Entry> entries;
  for (uint32_t key = 0; key < kCount; ++key) ASSERT_TRUE(entries.Push({key, ValueOf(key)}));
  ASSERT_EQ(entries.Size(), kCount);
  uint32_t wrong = 0;
  for (uint32_t key = 0; key < kCount; ++key) {
    wrong += entries[key].key != key || entries[key].value != ValueOf(key) ? 1 : 0;
  }
  EXPECT_EQ(wrong, 0u);
}

TEST(GrowableArray, AppendedRoomFollowsTheValuesAndTruncateOnlyShortens) {
  GrowableArray<uint32_t> values;
  ASSERT_TRUE(values.Push(7));
  uint32_t* room = values.Append(100000);
  ASSERT_NE(room, nullptr);
  for (uint32_t i = 0; i < 100000; ++i) room[i] = i;
  ASSERT_EQ(values.Size(), 100001u);
  EXPECT_EQ(values[0], 7u);
  EXPECT_EQ(values[100000], 99999u);
  values.Truncate(500);
  EXPECT_EQ(values.Size(), 500u);
  EXPECT_EQ(values[499], 498u);
  values.Truncate(600);
  EXPECT_EQ(values.Size(), 500u);
  // Pushed after a truncation, a value lands where the kept ones end.
  ASSERT_TRUE(values.Push(42));
  EXPECT_EQ(values.Size(), 501u);
  EXPECT_EQ(values[500], 42u);
}

TEST(GrowableArray, AMoveHandsTheValuesOverAndLeavesTheSourceEmpty) {
  GrowableArray<uint32_t> values;
  for (uint32_t i = 0; i < 1000; ++i) ASSERT_TRUE(values.Push(i));
  GrowableArray<uint32_t> moved(std::move(values));
  ASSERT_EQ(moved.Size(), 1000u);
  EXPECT_EQ(moved[999], 999u);
  EXPECT_EQ(values.Size(), 0u);
  EXPECT_EQ(values.begin(), values.end());
  // The emptied array is usable again, and assigned over, keeps nothing of
  // what it held.
  ASSERT_TRUE(values.Push(5));
  EXPECT_EQ(values[0], 5u);
  values = std::move(moved);
  ASSERT_EQ(values.Size(), 1000u);
  EXPECT_EQ(values[0], 0u);
  EXPECT_EQ(moved.Size(), 0u);
}

TEST(GrowableArray, SizesPastTheAddressSpaceAreRefusedAndTheValuesStay) {
  GrowableArray<uint64_t> values;
  ASSERT_TRUE(values.Push(1));
  ASSERT_TRUE(values.Push(2));
  EXPECT_EQ(values.Append(SIZE_MAX), nullptr);
  EXPECT_EQ(values.Append(SIZE_MAX - 1), nullptr);
  EXPECT_FALSE(values.Reserve(SIZE_MAX / sizeof(uint64_t) + 1));
  ASSERT_EQ(values.Size(), 2u);
  EXPECT_EQ(values[0], 1u);
  EXPECT_EQ(values[1], 2u);
}

}  // namespace
