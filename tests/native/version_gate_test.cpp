#include <gtest/gtest.h>

#include "update/format/version_gate.h"

namespace {
const char kBase[] = "1.4.1.33960";
const char kTarget[] = "1.4.1.34242";

uint32_t ValueOf(const char* text) {
  uint32_t value = 0;
  EXPECT_TRUE(ParseVersionValue(text, &value)) << text;
  return value;
}
}  // namespace

TEST(VersionGate, TheDocumentedTable) {
  EXPECT_EQ(ValueOf(kBase), 1004034960u);
  EXPECT_EQ(ValueOf(kTarget), 1004035242u);
  struct Row {
    const char* installed;
    uint32_t value;
    bool accepted;
  };
  const Row rows[] = {
      {"1.4.1.33960", 1004034960u, true}, {"1.4.1.34000", 1004035000u, true},
      {"1.4.1.34242", 1004035242u, true}, {"1.4.1.33959", 1004034959u, false},
      {"1.4.1", 1004000999u, false},      {"1.4.2.0", 1004002000u, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ValueOf(row.installed), row.value) << row.installed;
    EXPECT_EQ(IsVersionInRange(row.installed, kBase, kTarget), row.accepted) << row.installed;
  }
}

TEST(VersionGate, ArithmeticWrapsAndIgnoresTrailingText) {
  EXPECT_EQ(ValueOf("5.0.0.0"), 5000000000ull & 0xFFFFFFFFu);  // wraps below 1.x
  EXPECT_EQ(ValueOf("0.0.0"), 0xFFFFFFFFu);                    // missing fourth is -1
  EXPECT_EQ(ValueOf("1.2.3.4.5"), 1002003004u);
  EXPECT_EQ(ValueOf("1.2.3.4 beta"), 1002003004u);
  EXPECT_EQ(ValueOf(" 1. 2.+3.-4"), 1002002996u);  // %d skips blanks, takes signs
  EXPECT_EQ(ValueOf("1.2.3x"), 1002002999u);
  // Beyond the int range the scan wraps like a 32-bit int instead of being undefined.
  EXPECT_EQ(ValueOf("0.0.0.4294967297"), 1u);
}

TEST(VersionGate, FewerThanThreeNumbersIsRefused) {
  uint32_t value = 0;
  for (const char* text : {"", "1", "1.2", "1.2.", "1..2.3", "v1.2.3.4", ".1.2.3"}) {
    EXPECT_FALSE(ParseVersionValue(text, &value)) << text;
    EXPECT_FALSE(IsVersionInRange(text, "0.0.0.0", "4.0.0.0")) << text;
    EXPECT_FALSE(IsVersionInRange("1.0.0.0", text, "4.0.0.0")) << text;
    EXPECT_FALSE(IsVersionInRange("1.0.0.0", "0.0.0.0", text)) << text;
  }
}

TEST(VersionGate, WellFormedMeansFourPlainNumbers) {
  EXPECT_TRUE(IsWellFormedVersion("1.4.1.33960"));
  EXPECT_TRUE(IsWellFormedVersion("0.0.0.2147483647"));
  for (const char* text : {"", "1.2.3", "1.2.3.4.5", "1.2.3.4 ", " 1.2.3.4", "1.2.3.-4", "1.2.3.+4",
                           "1..3.4", "1.2.3.2147483648", "1.2.3.a"}) {
    EXPECT_FALSE(IsWellFormedVersion(text)) << text;
  }
}
