#include <gtest/gtest.h>
#include <cstring>
#ifdef _WIN32
#include <windows.h>
TEST(Smoke, AnsiCodePageIs936) { EXPECT_EQ(GetACP(), 936u); }
TEST(Smoke, LiteralsAreGbk) {
  const char* text = "更新";
  EXPECT_EQ(std::strlen(text), 4u);
  EXPECT_EQ(static_cast<unsigned char>(text[0]), 0xB8u);
}
#endif
TEST(Smoke, Runs) { EXPECT_EQ(1 + 1, 2); }
