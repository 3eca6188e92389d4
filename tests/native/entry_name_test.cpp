#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "update/base/gbk_text.h"
#include "update/format/entry_name.h"

namespace {

bool Safe(const std::string& name) {
  char field[80] = {};
  std::memcpy(field, name.data(), std::min<size_t>(name.size(), sizeof field));
  return IsSafeEntryName(field, sizeof field);
}

// "数" in GBK is CA FD; "\xD5\x5C" is a double-byte character whose trail byte
// is the backslash (a real GBK character).
const char kGbkBackslashTrail[] = "\xD5\x5C";

}  // namespace

TEST(EntryName, AcceptsPlainNamesAndSubdirectories) {
  EXPECT_TRUE(Safe(""));  // the unnamed package
  EXPECT_TRUE(Safe("patch.tpk"));
  EXPECT_TRUE(Safe("data\\x.dll"));
  EXPECT_TRUE(Safe("data/sub/x.dll"));
  EXPECT_TRUE(Safe("\xB8\xFC\xD0\xC2\\\xCA\xFD\xBE\xDD.dll"));  // 更新\数据.dll
  EXPECT_TRUE(Safe(std::string("a") + kGbkBackslashTrail + ".dll"));
  EXPECT_TRUE(Safe(".hidden"));
  EXPECT_TRUE(Safe("CONFIG.ini"));  // only the exact device stems are reserved
  EXPECT_TRUE(Safe("COM0"));
  EXPECT_TRUE(Safe(std::string(79, 'n')));
}

TEST(EntryName, RefusesEscapesFromTheDirectory) {
  for (const char* name :
       {"..", "..\\x", "a\\..\\..\\x", "a/../x", "\\x", "/etc/passwd", "\\\\server\\share\\x",
        "\\\\?\\C:\\x", "C:\\x", "C:x", "a:b", "x.dll:stream", "./x", "a\\.\\x"}) {
    EXPECT_FALSE(Safe(name)) << name;
  }
}

TEST(EntryName, RefusesNamesWindowsWouldAliasOrTreatAsDevices) {
  for (const char* name : {"a\\\\b", "a\\", "a/", "x.", "x ", "dir.\\x", "CON", "con.txt",
                           "data\\Nul", "aux .dll", "COM1", "lpt9.log", "conout$", "prn"}) {
    EXPECT_FALSE(Safe(name)) << name;
  }
}

TEST(EntryName, RefusesControlAndWildcardCharacters) {
  for (const char* name : {"a\x01.dll", "tab\there", "a*.dll", "a?.dll", "a|b", "a<b", "a\"b"}) {
    EXPECT_FALSE(Safe(name)) << name;
  }
}

TEST(EntryName, TrailBackslashIsNoSeparatorButBrokenPairsAreRefused) {
  // Read byte by byte these would end in a separator or hold an empty part.
  EXPECT_TRUE(Safe(std::string("data\\") + kGbkBackslashTrail));
  EXPECT_TRUE(Safe(std::string(kGbkBackslashTrail) + "\\x"));
  // A lead byte at the end, or followed by a byte that cannot be a trail byte
  // ('/' here), is not text in code page 936.
  EXPECT_FALSE(Safe("abc\xD5"));
  EXPECT_FALSE(Safe("a\xD5/..\\x"));
  EXPECT_FALSE(Safe("a\xFF"));
}

TEST(EntryName, RefusesFieldWithoutNulAndNamesTheReason) {
  char field[80];
  std::memset(field, 'a', sizeof field);
  EXPECT_FALSE(IsSafeEntryName(field, sizeof field));
  EXPECT_STREQ(EntryNameProblem(field, sizeof field), "name is not terminated within its field");
  field[79] = '\0';
  EXPECT_EQ(EntryNameProblem(field, sizeof field), nullptr);
  EXPECT_STREQ(EntryNameProblem("..\\x", 80), "'.' or '..' path part");
}

TEST(GbkText, FindsSeparatorsOutsideDoubleByteCharacters) {
  std::string path = std::string("C:\\game\\") + kGbkBackslashTrail + "x";
  const char* last = FindLastChar(path.c_str(), '\\');
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last - path.c_str(), 7);  // not the trail byte at 9

  const char mixed[] = "a/b\\c";
  EXPECT_EQ(FindLastSeparator(mixed, "\\/"), mixed + 3);
  EXPECT_EQ(FindLastSeparator(mixed, "/"), mixed + 1);
  EXPECT_EQ(FindLastChar(kGbkBackslashTrail, '\\'), nullptr);
  EXPECT_EQ(FindLastChar("", '\\'), nullptr);
}

TEST(GbkText, FoldsNamesAsWindowsComparesThem) {
  EXPECT_EQ(FoldGbkName("Data/Game.EXE"), "data\\game.exe");
  // The double-byte letters with both cases in code page 936, first and last
  // of each run: Roman numerals, fullwidth Latin, Greek, Cyrillic. A capital
  // and its small letter fold alike, to the small one.
  const std::pair<const char*, const char*> pairs[] = {
      {"\xA2\xF1", "\xA2\xA1"},  // Ⅰ ⅰ
      {"\xA2\xFA", "\xA2\xAA"},  // Ⅹ ⅹ
      {"\xA3\xC1", "\xA3\xE1"},  // Ａ ａ
      {"\xA3\xDA", "\xA3\xFA"},  // Ｚ ｚ
      {"\xA6\xA1", "\xA6\xC1"},  // Α α
      {"\xA6\xB8", "\xA6\xD8"},  // Ω ω
      {"\xA7\xA1", "\xA7\xD1"},  // А а
      {"\xA7\xA7", "\xA7\xD7"},  // Ё ё
      {"\xA7\xC1", "\xA7\xF1"},  // Я я
  };
  for (const auto& pair : pairs) {
    const std::string capital = std::string("x\\") + pair.first + ".DAT";
    const std::string small = std::string("X/") + pair.second + ".dat";
    EXPECT_EQ(FoldGbkName(capital), "x\\" + std::string(pair.second) + ".dat") << capital;
    EXPECT_EQ(FoldGbkName(small), FoldGbkName(capital)) << small;
  }
  // Their neighbours have no other case in code page 936 (Ⅺ's small letter
  // is not in it), nor do the same trail bytes after other lead bytes.
  for (const char* same : {"\xA2\xF0", "\xA2\xFB", "\xA3\xC0", "\xA3\xDB", "\xA3\xE0", "\xA3\xFB",
                           "\xA6\xB9", "\xA6\xC0", "\xA6\xD9", "\xA7\xC2", "\xA7\xD0", "\xA7\xF2",
                           "\xA4\xC1", "\xA5\xA1", "\xB0\xC1"}) {
    EXPECT_EQ(FoldGbkName(same), same) << same;
  }
  // Trail bytes that look like ASCII capitals or '/' stay what they are
  // (丄 is 81 41, 乑 is 81 5A, 乗 is 81 5C).
  for (const char* same : {"\x81\x41", "\x81\x5A", "\x81\x5C", "\xA3\x41"}) {
    EXPECT_EQ(FoldGbkName(same), same) << same;
  }
}

TEST(GbkText, NextCharStepsOverPairsButNeverPastTheEnd) {
  const char text[] =
      "\xCA\xFD"
      "a\xD5";
  EXPECT_EQ(NextChar(text), text + 2);
  EXPECT_EQ(NextChar(text + 2), text + 3);
  EXPECT_EQ(NextChar(text + 3), text + 4);  // lone lead byte before the NUL
  EXPECT_EQ(NextChar(text + 4), text + 4);
}
