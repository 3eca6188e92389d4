// mkpatch's Windows build on a Chinese file name: arguments and paths arrive
// as UTF-8 (from UTF-16), entry names must be stored as code page 936 bytes,
// and those bytes must open the same file through the ANSI API the updater
// uses.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <sstream>
#include <string>

#include "entry_name.h"
#include "file_system.h"
#include "mkpatch.h"
#include "name_encoding.h"

namespace {

std::string TempDirectory() {
  wchar_t buffer[MAX_PATH];
  DWORD length = GetTempPathW(MAX_PATH, buffer);
  std::string base = WideToUtf8(std::wstring(buffer, length));
  return JoinPath(base, "mkpatch_wine_" + std::to_string(GetCurrentProcessId()));
}

int RunTool(std::vector<std::string> args, std::string* out) {
  std::ostringstream o, e;
  int code = RunMkpatch(args, o, e);
  *out = o.str() + e.str();
  return code;
}

}  // namespace

// Every GBK test below rests on these two: the prefix's ANSI code page, and
// Chinese literals compiled to GBK bytes rather than UTF-8.
TEST(CodePage936, PrefixAndLiteralsAreGbk) {
  EXPECT_EQ(GetACP(), 936u);
  EXPECT_STREQ("更新", "\xB8\xFC\xD0\xC2");
}

TEST(MkpatchWine, GbkNameRoundTrip) {
  ASSERT_EQ(GetACP(), 936u) << "the tests expect the Chinese ANSI code page";
  const std::string root = TempDirectory();
  const std::string utf8Name = u8"更新/数据.dll";
  const std::string gbkEntry = "\xB8\xFC\xD0\xC2\\\xCA\xFD\xBE\xDD.dll";
  ASSERT_TRUE(MakeDirectories(JoinPath(root, u8"in/更新")));
  {
    FileHandle file = OpenFile(JoinPath(root, "in/" + utf8Name), "wb");
    ASSERT_TRUE(file);
    std::fputs("payload bytes", file.get());
  }
  std::string output;
  const std::string package = JoinPath(root, u8"补丁.tpk");
  ASSERT_EQ(RunTool({"build", "-o", package, "--base", "1.0.0.0", "--target", "1.0.0.1",
                 JoinPath(root, "in")},
                &output),
            0)
      << output;

  FileHandle built = OpenFile(package, "rb");
  ASSERT_TRUE(built);
  char header[84] = {};
  ASSERT_EQ(std::fread(header, 1, sizeof header, built.get()), sizeof header);
  built.reset();
  EXPECT_EQ(std::string(header), gbkEntry);
  EXPECT_TRUE(IsSafeEntryName(header, sizeof header));

  ASSERT_EQ(RunTool({"list", package}, &output), 0);
  EXPECT_NE(output.find(u8"更新\\数据.dll"), std::string::npos) << output;

  const std::string extracted = JoinPath(root, "out");
  ASSERT_EQ(RunTool({"extract", package, extracted}, &output), 0) << output;
  // The ANSI path the updater would form from the stored name.
  std::string ansiDirectory;
  ASSERT_TRUE(Utf8ToGbk(extracted, &ansiDirectory));
  std::string ansiPath = ansiDirectory + "\\" + gbkEntry;
  HANDLE file = CreateFileA(ansiPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "extracted file not found under its GBK name";
  std::unique_ptr<void, decltype(&CloseHandle)> owner(file, &CloseHandle);
  char bytes[32] = {};
  DWORD got = 0;
  ReadFile(file, bytes, sizeof bytes, &got, nullptr);
  EXPECT_EQ(std::string(bytes, got), "payload bytes");

  // A name the code page cannot hold is refused, not mangled.
  ASSERT_EQ(RunTool({"build", "-o", JoinPath(root, "bad.tpk"), "--base", "1.0.0.0", "--target",
                 "1.0.0.1", "--name", u8"\uD55C.dll=" + JoinPath(root, "in/" + utf8Name)},
                &output),
            1);
  EXPECT_NE(output.find("code page 936"), std::string::npos) << output;
  EXPECT_FALSE(IsRegularFile(JoinPath(root, "bad.tpk")));

  RemoveFile(JoinPath(root, "in/" + utf8Name));
  RemoveFile(JoinPath(root, u8"out/更新/数据.dll"));
  RemoveFile(package);
}
