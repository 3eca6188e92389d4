// Described entries refused before the first write: installed files that
// are not the build the patch was made from, links in the way, malformed
// descriptors, and a disk too small for the decoded files.
#include <cstring>

#include "described_run.h"
#include "hand_made_delta.h"
#include "update/files/win32_handle.h"
#include "update/format/entry_detail.h"
#include "update/session/host_hooks.h"

namespace {

using DescribedRefusal = DescribedRunTest;

std::string MismatchText(const std::string& path) {
  return "游戏文件与补丁不符,请修复游戏或下载完整补丁:" + path;
}

class RefusedRun : public DescribedRunTest {
 protected:
  // Refused with `text` shown once (cut to the box) and logged whole, the
  // game directory as it was, nothing extracted; `sourcesOk` false for a
  // mismatch or a link (exit code 5), `spaceOk` false for a disk too small.
  void ExpectRefused(const std::string& text, bool sourcesOk, bool spaceOk = true) {
    const auto before = TreeContents(gameDir_);
    const int logged = LogCount(text);
    warnings_.clear();
    progress_.clear();
    RunChecks checks;
    EXPECT_EQ(0, Run(&checks));
    EXPECT_TRUE(checks.versionOk);
    EXPECT_EQ(sourcesOk, checks.sourcesOk) << "exit code 5 for a mismatch or a link only";
    EXPECT_EQ(spaceOk, checks.spaceOk);
    EXPECT_EQ(std::vector<std::string>{Shown(text)}, warnings_);
    EXPECT_EQ(logged + 1, LogCount(text));
    EXPECT_TRUE(before == TreeContents(gameDir_)) << "the game directory changed";
    EXPECT_TRUE(progress_.empty());
    EXPECT_FALSE(DirectoryExists(RunFolder()));
  }
};

TEST_F(RefusedRun, ADeltaSourceChangedOrMissingRefusesTheRunWithTheFileNamed) {
  const std::string old = Pattern(20000, 1);
  std::string fresh = old;
  fresh[4000] ^= 0x01;
  std::string changed = old;
  changed[19999] ^= 0x80;
  Put("bin\\app.exe", changed);
  Put("data\\keep.txt", "kept");
  // The first entry would be written first: the refusal comes before it.
  UseUpdater(
      BuildUpdater(64, {PathFileEntry("data\\new.txt", Compressible(9000, 2), EntryCoding::Zstd),
                        DeltaEntry("bin\\app.exe", old, fresh)}));
  ExpectRefused(MismatchText(Game("bin\\app.exe")), false);
  ASSERT_GT(MismatchText(Game("bin\\app.exe")).size(), 99u) << "the whole line goes to the log";

  ASSERT_TRUE(DeleteFileA(Game("bin\\app.exe").c_str()));
  ExpectRefused(MismatchText(Game("bin\\app.exe")), false);

  // The old build's file, or the new one, is accepted.
  Put("bin\\app.exe", old);
  RunChecks checks;
  ASSERT_EQ(1, Run(&checks)) << FirstWarning();
  EXPECT_EQ(fresh, Read("bin\\app.exe"));
}

// A renamed file's old name is the one that must hold the old build's bytes.
TEST_F(RefusedRun, ARenamedFilesSourceIsCheckedAtItsOldName) {
  const std::string old = Pattern(20000, 6);
  std::string fresh = old;
  fresh[9] ^= 0x04;
  Put("lib\\core-1.dll", fresh);
  Put("lib\\core-2.dll", old);
  UseUpdater(BuildUpdater(64, {DeltaEntry("lib\\core-2.dll", old, fresh, "lib\\core-1.dll")}));
  ExpectRefused(MismatchText(Game("lib\\core-1.dll")), false);
}

// A file written before the delta that reads it would leave the delta
// nothing to apply to, in this run and every later one.
TEST_F(RefusedRun, AFileWrittenBeforeTheDeltaThatReadsItIsAPatchInTheWrongOrder) {
  const std::string old = Pattern(20000, 7);
  std::string fresh = old;
  fresh[9] ^= 0x04;
  Put("lib\\core-1.dll", old);
  UseUpdater(BuildUpdater(64, {PathFileEntry("lib\\core-1.dll", "another", EntryCoding::Stored),
                               DeltaEntry("lib\\core-2.dll", old, fresh, "lib\\core-1.dll")}));
  ExpectRefused("错误的文件顺序:参数 2 1", true);
}

// A game archive beyond 4 GiB whose size is not the one the delta was made
// from: refused by its size (format 2 holds it whole), never read. The file
// is sparse, so the test stays quick.
TEST_F(RefusedRun, ALargeSourceOfAnotherSizeIsRefusedWithoutBeingRead) {
  const uint64_t size = (uint64_t(4) << 30) + 1;
  MakeDirectoryTree(Game("data"));
  {
    UniqueHandle file(CreateFileA(Game("data\\archive.pak").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file.IsValid());
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    ASSERT_TRUE(SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file.Get()));
  }
  EntryDescriptor delta =
      DescribeFile(EntryKind::PathFile, EntryCoding::Delta, "new", "data\\archive.pak");
  DescribeSource(delta, "old");
  delta.sourceSize = size + 1;
  delta.decodedSize = size + 10;
  UseUpdater(BuildUpdater(64, {DescribedFile("archive.pak", delta, "not decoded")}));
  // (The tree is not compared whole, as the other refusals are: it holds 4 GiB.)
  RunChecks checks;
  EXPECT_EQ(0, Run(&checks));
  EXPECT_FALSE(checks.sourcesOk);
  EXPECT_EQ(std::vector<std::string>{Shown(MismatchText(Game("data\\archive.pak")))}, warnings_);
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ASSERT_TRUE(
      GetFileAttributesExA(Game("data\\archive.pak").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ((uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow, size);
  EXPECT_EQ(ListFiles(Game("data"), "*"), std::vector<std::string>{"archive.pak"});
  EXPECT_TRUE(progress_.empty());
}

// The game directory's own path may hold links; inside it, none may lie on
// the way to a file the run writes or removes, nor be that file.
uint32_t g_linkCount = 0;
std::string g_links[2];

uint32_t LinkAttributes(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  for (uint32_t i = 0; i < g_linkCount; ++i) {
    if (g_links[i] == path) {
      return (attributes == INVALID_FILE_ATTRIBUTES ? FILE_ATTRIBUTE_NORMAL : attributes) |
             FILE_ATTRIBUTE_REPARSE_POINT;
    }
  }
  return attributes;
}

class LinkRefusal : public RefusedRun {
 protected:
  void SetUp() override {
    RefusedRun::SetUp();
    g_linkCount = 0;
    SetPathAttributesProvider(&LinkAttributes);
  }
  void TearDown() override {
    SetPathAttributesProvider(nullptr);
    RefusedRun::TearDown();
  }
  void LinkAt(const std::string& path) { g_links[g_linkCount++] = path; }
};

TEST_F(LinkRefusal, ALinkOnTheWayOrInPlaceOfAFileRefusesTheRun) {
  Put("data\\a.dat", "old a");
  Put("old\\gone.dat", "gone");
  UseUpdater(BuildUpdater(64, {PathFileEntry("data\\a.dat", "new a", EntryCoding::Stored),
                               RemovalEntry("old\\gone.dat", "gone")}));
  LinkAt(Game("data\\a.dat"));
  ExpectRefused(MismatchText(Game("data\\a.dat")), false);
  g_linkCount = 0;
  LinkAt(Game("old"));
  ExpectRefused(MismatchText(Game("old")), false);

  // Links above the game directory are the player's business.
  g_linkCount = 0;
  LinkAt(gameDir_);
  LinkAt(WorkDir() + "\\games");
  RunChecks checks;
  ASSERT_EQ(1, Run(&checks)) << FirstWarning();
  EXPECT_EQ("new a", Read("data\\a.dat"));
  EXPECT_FALSE(FileExists(Game("old\\gone.dat")));
}

// Wine reports a Unix symbolic link to a folder as a reparse point (though
// it cannot make one through the system's calls): the real check, untouched.
// Wine starts Unix programs too, without waiting for them.
// `command` is a program in /bin and its options; the paths follow it.
void RunUnix(const std::string& command, const std::vector<std::string>& paths) {
  typedef char*(CDECL * ToUnix)(LPCWSTR);
  ToUnix toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
  if (toUnix == nullptr) return;
  std::string line = command;
  for (const std::string& path : paths) {
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    char* unixPath = toUnix(wide);
    if (unixPath == nullptr) return;
    line += std::string(" \"") + unixPath + "\"";
    HeapFree(GetProcessHeap(), 0, unixPath);
  }
  const std::string executable = "Z:\\bin\\" + command.substr(0, command.find(' '));
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (CreateProcessA(executable.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}

// Waits until `path` shows `present` (or a few seconds have passed).
DWORD AwaitAttributes(const std::string& path, bool present) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  for (int i = 0; i < 200 && (attributes != INVALID_FILE_ATTRIBUTES) != present; ++i) {
    Sleep(50);
    attributes = GetFileAttributesA(path.c_str());
  }
  return attributes;
}

TEST_F(DescribedRefusal, AFolderLinkedOutOfTheGameIsNeverWrittenThrough) {
  const std::string outside = WorkDir() + "\\outside_" + tag_;
  RemoveTree(outside);
  MakeDirectoryTree(outside);
  const std::string old = Pattern(20000, 3);
  ASSERT_TRUE(WriteWholeFile(outside + "\\app.exe", old));
  RunUnix("ln -sfn", {outside, Game("bin")});
  const DWORD link = AwaitAttributes(Game("bin"), true);
  if (link == INVALID_FILE_ATTRIBUTES || (link & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    GTEST_SKIP() << "no Unix link could be made here";
  }
  std::string fresh = old;
  fresh[7] ^= 0x01;
  // The source behind the link is the old build's: only the link refuses it.
  UseUpdater(BuildUpdater(64, {DeltaEntry("bin\\app.exe", old, fresh)}));
  RunChecks checks;
  EXPECT_EQ(0, Run(&checks));
  EXPECT_FALSE(checks.sourcesOk);
  EXPECT_EQ(std::vector<std::string>{Shown(MismatchText(Game("bin")))}, warnings_);
  EXPECT_EQ(old, ReadWholeFile(outside + "\\app.exe"));
  EXPECT_EQ(std::vector<std::string>{"app.exe"}, ListFiles(outside, "*"));
  RunUnix("rm -f", {Game("bin")});
  AwaitAttributes(Game("bin"), false);
  RemoveTree(outside);
}

TEST_F(RefusedRun, MalformedDescriptorsAndUnknownMarkingsRefuseTheRunAsDamaged) {
  PayloadFile reserved = PathFileEntry("b.dat", "b", EntryCoding::Stored);
  reserved.descriptor[50] = 1;
  UseUpdater(BuildUpdater(64, {PathFileEntry("a.dat", "a", EntryCoding::Stored), reserved}));
  ExpectRefused(
      "错误的文件描述:参数 2 " + std::to_string(static_cast<int>(DescriptorError::ReservedNotZero)),
      true);

  Bytes file = BuildUpdater(64, {PathFileEntry("a.dat", "a", EntryCoding::Stored)});
  const size_t format = 64 + std::strlen("a.dat") + 1 + ENTRY_DESCRIPTOR_MARKER_SIZE;
  ASSERT_EQ(ENTRY_DESCRIPTOR_FORMAT, file[format]);
  file[format] = ENTRY_DESCRIPTOR_FORMAT_2 + 1;
  UseUpdater(file);
  ExpectRefused("错误的文件描述:参数 1 0", true);
}

uint64_t g_freeBytes = 0;

bool FakeFreeSpace(const char* directory, uint64_t* freeBytes) {
  (void)directory;
  *freeBytes = g_freeBytes;
  return true;
}

std::string VolumeOf(const std::string& path) {
  char root[MAX_PATH] = {};
  EXPECT_TRUE(GetVolumePathNameA(path.c_str(), root, sizeof root));
  return root;
}

// A delta of a few hundred bytes makes a file of megabytes beside its target.
TEST_F(RefusedRun, FreeSpaceIsCountedInDecodedBytesAndNotForFilesAlreadyInstalled) {
  constexpr uint64_t kMiB = uint64_t(1) << 20;
  const std::string old = Pattern(3 * kMiB, 5);
  std::string fresh;
  const PayloadFile delta = HandMadeDeltaEntry("big.dat", old, {10, 2 * kMiB}, &fresh);
  ASSERT_LT(delta.data.size(), 10000u);
  Put("big.dat", old);
  UseUpdater(BuildUpdater(64, {delta}));
  SetFreeSpaceProvider(&FakeFreeSpace);
  // The decoded file and the margin, on the one volume of both folders.
  g_freeBytes = 4 * kMiB - 1;
  ExpectRefused("磁盘空间不足,还需要 1 MB,请释放空间后重新运行更新程序! " + VolumeOf(gameDir_),
                true, false);
  // Installed already, it needs nothing but the margin.
  Put("big.dat", fresh);
  g_freeBytes = kMiB;
  RunChecks checks;
  EXPECT_EQ(1, Run(&checks)) << FirstWarning();
  SetFreeSpaceProvider(nullptr);
}

}  // namespace
