#include "update/base/bounded_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

int Format(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int needed = FormatMeasured(buffer, size, format, args);
  va_end(args);
  return needed;
}

// Under Wine this is the system runtime's formatter, which reports a cut as
// -1 and leaves the buffer unterminated; the C99 answer must come out anyway.
TEST(FormatMeasured, TerminatesCutsAndMeasuresLikeC99) {
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(Format(buffer, sizeof buffer, "%s-%04d", "ab", 7), 7);
  EXPECT_STREQ(buffer, "ab-0007");  // exactly fills the buffer with its terminator

  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(Format(buffer, sizeof buffer, "%s %d", "longer text", -12), 15);
  EXPECT_STREQ(buffer, "longer ");

  EXPECT_EQ(Format(nullptr, 0, "%02x%s", 10u, "\xB8\xFC"), 4);  // GBK bytes pass unchanged
  buffer[0] = 'x';
  EXPECT_EQ(Format(buffer, 1, "abc"), 3);
  EXPECT_EQ(buffer[0], '\0');
}

}  // namespace
