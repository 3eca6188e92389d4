#include "update/base/unique_resource.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Every close is recorded, so a test sees double closes and leaks alike.
std::vector<int> g_closed;
bool g_closeSucceeds = true;

bool CloseFake(int value) {
  g_closed.push_back(value);
  return g_closeSucceeds;
}

// Like a kernel handle: both 0 and -1 own nothing, -1 is the empty value.
struct MinusOneIsEmpty {
  static int Empty() { return -1; }
  static bool Owns(int value) { return value != -1 && value != 0; }
};

using FakeOwner = UniqueResource<int, CloseFake>;
using FakeHandle = UniqueResource<int, CloseFake, MinusOneIsEmpty>;

class UniqueResourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_closed.clear();
    g_closeSucceeds = true;
  }
};

TEST_F(UniqueResourceTest, ClosesOnceWhateverPathOwnershipTakes) {
  {
    FakeOwner first(7);
    FakeOwner moved(std::move(first));
    EXPECT_FALSE(first.IsValid());
    FakeOwner assigned(8);
    assigned = std::move(moved);  // 8 closed here, 7 taken over
    EXPECT_EQ(g_closed, std::vector<int>({8}));
    assigned.Reset(9);  // 7 closed
    FakeOwner given(10);
    EXPECT_EQ(given.Release(), 10);
  }
  // 9 at the end of the scope; 10 was given away, never closed here.
  EXPECT_EQ(g_closed, std::vector<int>({8, 7, 9}));
}

TEST_F(UniqueResourceTest, EmptyValuesAreNeverClosed) {
  {
    FakeHandle none;
    FakeHandle zero(0);
    EXPECT_FALSE(none.IsValid());
    EXPECT_FALSE(zero.IsValid());
    EXPECT_EQ(none.Get(), -1);
    EXPECT_TRUE(zero.Close());
  }
  EXPECT_TRUE(g_closed.empty());
}

TEST_F(UniqueResourceTest, ReceiveClosesFirstAndCloseReportsFailure) {
  FakeOwner owner(3);
  *owner.Receive() = 4;
  EXPECT_EQ(g_closed, std::vector<int>({3}));
  g_closeSucceeds = false;
  EXPECT_FALSE(owner.Close());
  EXPECT_FALSE(owner.IsValid());
  EXPECT_TRUE(owner.Close());  // nothing left to close
  EXPECT_EQ(g_closed, std::vector<int>({3, 4}));
}

}  // namespace
