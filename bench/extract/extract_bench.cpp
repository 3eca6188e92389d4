// Extraction throughput of the update run against two floors on the same
// bytes, and the run's peak memory.
//   extract_bench speed <MiB> <runs>  best seconds of: the run's extraction
//                                     (PG_EXTRACT_BEGIN to PG_EXTRACT_END),
//                                     a bare 4096-byte ReadFile/WriteFile loop,
//                                     CopyFileA of the extracted file
//   extract_bench peak <MiB>          one run, then PeakWorkingSetSize
//   extract_bench digest <MiB> <runs> best seconds of: the whole automatic
//                                     run (ApplyPatch) without and with the
//                                     payload digest record, and one digest
//                                     pass over the entry region alone
//   extract_bench record <MiB> <runs> best seconds of: the automatic run and
//                                     the version record after it, as the
//                                     worker makes them, on an updater with
//                                     the record; the run alone; one MD5 pass
//                                     over the whole file through stdio
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "update/base/md5.h"
#include "update/files/win32_handle.h"
#include "update/format/payload.h"
#include "update/format/payload_digest.h"
#include "update/session/host_hooks.h"
#include "update/session/own_file_source.h"
#include "update/session/update_session.h"

namespace {

const uint32_t kStubSize = 4096;
const uint32_t kChunk = 4096;

std::string g_updater;
LARGE_INTEGER g_begin, g_end;

uint32_t BenchOwnPath(char* buffer, uint32_t size) {
  std::snprintf(buffer, size, "%s", g_updater.c_str());
  return static_cast<uint32_t>(g_updater.size());
}

void PrintWarning(const char* text) { std::fprintf(stderr, "warning: %s\n", text); }

// Registered like the dialog's callback; only the two ends of the extraction are timed.
void OnProgress(uint32_t, uint32_t code, uint32_t, uint32_t) {
  if (code == PG_EXTRACT_BEGIN) QueryPerformanceCounter(&g_begin);
  if (code == PG_EXTRACT_END) QueryPerformanceCounter(&g_end);
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool WriteAll(HANDLE file, const void* data, DWORD size) {
  DWORD written = 0;
  return WriteFile(file, data, size, &written, nullptr) && written == size;
}

// Stub, one plain entry of `size` bytes, trailer; with the digest record as
// mkpatch writes it when `withDigest`.
bool MakeUpdater(const std::string& path, uint32_t size, bool withDigest = false) {
  UniqueHandle file(
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!file.IsValid()) return false;
  std::vector<unsigned char> block(1 << 20);
  uint32_t state = 12345;
  for (unsigned char& byte : block) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<unsigned char>(state >> 16);
  }
  if (!WriteAll(file.Get(), block.data(), kStubSize)) return false;
  PatchEntryHeader header = {};
  std::snprintf(header.name, sizeof header.name, "%s", "extract_bench.bin");
  header.size = size;
  unsigned char headerBytes[PATCH_ENTRY_HEADER_SIZE];
  EncodeEntryHeader(header, headerBytes);
  if (!WriteAll(file.Get(), headerBytes, sizeof headerBytes)) return false;
  MD5 md5;
  md5.update(headerBytes, sizeof headerBytes);
  for (uint32_t left = size; left > 0;) {
    DWORD part = left < block.size() ? left : static_cast<DWORD>(block.size());
    if (!WriteAll(file.Get(), block.data(), part)) return false;
    md5.update(block.data(), part);
    left -= part;
  }
  md5.finalize();
  PatchTrailer trailer = {};
  trailer.magic = PATCH_TRAILER_MAGIC;
  trailer.firstEntryOffset = kStubSize;
  trailer.entryCount = 1;
  trailer.totalFileSize = kStubSize + PATCH_ENTRY_HEADER_SIZE + size + PATCH_TRAILER_SIZE;
  std::snprintf(trailer.baseVersion, sizeof trailer.baseVersion, "%s", "1.0.0.0");
  std::snprintf(trailer.targetVersion, sizeof trailer.targetVersion, "%s", "1.0.0.1");
  if (withDigest) {
    unsigned char digest[PAYLOAD_DIGEST_SIZE];
    std::memcpy(digest, md5.raw_digest().data(), sizeof digest);
    WriteDigestRecord(&trailer, digest);
  }
  unsigned char trailerBytes[PATCH_TRAILER_SIZE];
  EncodeTrailer(trailer, trailerBytes);
  return WriteAll(file.Get(), trailerBytes, sizeof trailerBytes);
}

double RunExtraction() {
  bool versionOk = true;
  if (!g_UpdateSession.ApplyPatch(versionOk)) {
    std::fprintf(stderr, "update run failed\n");
    std::exit(1);
  }
  return Seconds(g_begin, g_end);
}

// The floor: the same bytes through the same 4096-byte buffer, nothing else.
double RunBareLoop(const std::string& target) {
  LARGE_INTEGER from, to;
  QueryPerformanceCounter(&from);
  UniqueHandle in(CreateFileA(g_updater.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr));
  UniqueHandle out(CreateFileA(target.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                               nullptr, CREATE_ALWAYS, 0, nullptr));
  LARGE_INTEGER position;
  position.QuadPart = kStubSize + PATCH_ENTRY_HEADER_SIZE;
  SetFilePointerEx(in.Get(), position, nullptr, FILE_BEGIN);
  unsigned char buffer[kChunk];
  LARGE_INTEGER size;
  GetFileSizeEx(in.Get(), &size);
  uint64_t left = static_cast<uint64_t>(size.QuadPart) - position.QuadPart - PATCH_TRAILER_SIZE;
  while (left > 0) {
    DWORD chunk = left < kChunk ? static_cast<DWORD>(left) : kChunk;
    DWORD got = 0;
    if (!ReadFile(in.Get(), buffer, chunk, &got, nullptr) || got == 0) break;
    if (!WriteAll(out.Get(), buffer, got)) break;
    left -= got;
  }
  out.Close();
  QueryPerformanceCounter(&to);
  return Seconds(from, to);
}

// The whole automatic run, as the worker makes it, from the call to its return.
double TimeWholeRun(const std::string& updater) {
  g_updater = updater;
  LARGE_INTEGER from, to;
  QueryPerformanceCounter(&from);
  RunExtraction();
  QueryPerformanceCounter(&to);
  return Seconds(from, to);
}

// One digest pass over the entry region, as the run makes it.
double TimeDigestPass(const std::string& updater) {
  LARGE_INTEGER from, to;
  QueryPerformanceCounter(&from);
  OwnFileSource source;
  PatchTrailer trailer;
  uint32_t got = 0;
  unsigned char digest[PAYLOAD_DIGEST_SIZE];
  uint64_t digested = 0;
  if (!source.Open(updater.c_str()) || !ReadTrailer(source, &trailer, &got) ||
      !DigestRegion(source, trailer.firstEntryOffset, DigestRegionEnd(trailer), digest,
                    &digested)) {
    std::fprintf(stderr, "digest pass failed\n");
    std::exit(1);
  }
  QueryPerformanceCounter(&to);
  return Seconds(from, to);
}

// Without and with the record, alternating who goes first; best of `runs`.
int RunDigestComparison(const std::string& work, const char* mib, uint32_t size, int runs) {
  const std::string plain = work + "\\updater_" + mib + ".exe";
  const std::string recorded = work + "\\updater_" + mib + "_digest.exe";
  if (!MakeUpdater(plain, size) || !MakeUpdater(recorded, size, true)) {
    std::fprintf(stderr, "cannot write the updaters\n");
    return 1;
  }
  double bestPlain = 1e30, bestRecorded = 1e30, bestPass = 1e30;
  for (int i = 0; i < runs; ++i) {
    double without, with;
    if (i % 2 == 0) {
      without = TimeWholeRun(plain);
      with = TimeWholeRun(recorded);
    } else {
      with = TimeWholeRun(recorded);
      without = TimeWholeRun(plain);
    }
    double pass = TimeDigestPass(recorded);
    std::fprintf(stderr, "run %d: without %.3f s, with %.3f s, digest pass %.3f s\n", i + 1,
                 without, with, pass);
    bestPlain = without < bestPlain ? without : bestPlain;
    bestRecorded = with < bestRecorded ? with : bestRecorded;
    bestPass = pass < bestPass ? pass : bestPass;
  }
  std::printf("without %.3f with %.3f pass %.3f\n", bestPlain, bestRecorded, bestPass);
  return 0;
}

// The run, then the version record when `record`, from an installed version
// the patch applies to.
double TimeRunAndRecord(const std::string& updater, bool record) {
  g_updater = updater;
  const std::string config = std::string(g_UpdateSession.gameDir) + "\\Config\\Client.ini";
  WritePrivateProfileStringA("Version", "GameVersion", "1.0.0.0", config.c_str());
  LARGE_INTEGER from, to;
  QueryPerformanceCounter(&from);
  RunExtraction();
  if (record && !g_UpdateSession.WriteVersionRecord()) {
    std::fprintf(stderr, "version record failed\n");
    std::exit(1);
  }
  QueryPerformanceCounter(&to);
  return Seconds(from, to);
}

// The whole file's MD5 read through stdio, as a record with nothing kept reads it.
double TimeFilePass(const std::string& updater) {
  LARGE_INTEGER from, to;
  QueryPerformanceCounter(&from);
  DigestReadAhead readAhead;
  FILE* file = OpenForDigest(updater.c_str(), readAhead);
  if (file == nullptr) std::exit(1);
  MD5 digest(file);
  QueryPerformanceCounter(&to);
  return Seconds(from, to);
}

// With and without the record after the run, alternating who goes first; best of `runs`.
int RunRecordComparison(const std::string& work, const char* mib, uint32_t size, int runs) {
  const std::string updater = work + "\\updater_" + mib + "_digest.exe";
  if (!MakeUpdater(updater, size, true)) {
    std::fprintf(stderr, "cannot write the updater\n");
    return 1;
  }
  double bestRecorded = 1e30, bestRun = 1e30, bestPass = 1e30;
  for (int i = 0; i < runs; ++i) {
    double recorded, run;
    if (i % 2 == 0) {
      recorded = TimeRunAndRecord(updater, true);
      run = TimeRunAndRecord(updater, false);
    } else {
      run = TimeRunAndRecord(updater, false);
      recorded = TimeRunAndRecord(updater, true);
    }
    double pass = TimeFilePass(updater);
    std::fprintf(stderr, "run %d: run and record %.3f s, run %.3f s, file pass %.3f s\n", i + 1,
                 recorded, run, pass);
    bestRecorded = recorded < bestRecorded ? recorded : bestRecorded;
    bestRun = run < bestRun ? run : bestRun;
    bestPass = pass < bestPass ? pass : bestPass;
  }
  std::printf("run_and_record %.3f run %.3f file_pass %.3f\n", bestRecorded, bestRun, bestPass);
  return 0;
}

double RunCopyFile(const std::string& source, const std::string& target) {
  LARGE_INTEGER from, to;
  QueryPerformanceCounter(&from);
  CopyFileA(source.c_str(), target.c_str(), FALSE);
  QueryPerformanceCounter(&to);
  return Seconds(from, to);
}

std::string CurrentDir() {
  char buffer[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, buffer);
  return buffer;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: extract_bench speed <MiB> <runs> | peak <MiB> | digest <MiB> <runs> | "
                 "record <MiB> <runs>\n");
    return 2;
  }
  const std::string mode = argv[1];
  const uint32_t size = static_cast<uint32_t>(std::atoi(argv[2])) << 20;
  const int runs = argc > 3 ? std::atoi(argv[3]) : 1;

  const std::string work = CurrentDir();
  const std::string game = work + "\\game";
  CreateDirectoryA(game.c_str(), nullptr);
  CreateDirectoryA((game + "\\Config").c_str(), nullptr);
  WritePrivateProfileStringA("Version", "GameVersion", "1.0.0.0",
                             (game + "\\Config\\Client.ini").c_str());
  SetOwnPathProvider(&BenchOwnPath);
  SetWarningSink(&PrintWarning);
  UpdateSession::SetProgressCallback(&OnProgress, 0);
  g_UpdateSession.SetGameDir(game.c_str());
  g_UpdateSession.autoMode = true;
  if (mode == "digest") return RunDigestComparison(work, argv[2], size, runs);
  if (mode == "record") return RunRecordComparison(work, argv[2], size, runs);

  g_updater = work + "\\updater_" + argv[2] + ".exe";
  if (!MakeUpdater(g_updater, size)) {
    std::fprintf(stderr, "cannot write %s\n", g_updater.c_str());
    return 1;
  }

  if (mode == "peak") {
    RunExtraction();
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    std::printf("peak_working_set %lu\n", static_cast<unsigned long>(counters.PeakWorkingSetSize));
    return 0;
  }

  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string extracted = std::string(temp) + "\\extract_bench.bin";
  double bestRun = 1e30, bestBare = 1e30, bestCopy = 1e30;
  for (int i = 0; i < runs; ++i) {
    // Alternate who goes first, so neither always meets a cold or warm cache.
    double run, bare;
    if (i % 2 == 0) {
      run = RunExtraction();
      bare = RunBareLoop(work + "\\bare.bin");
    } else {
      bare = RunBareLoop(work + "\\bare.bin");
      run = RunExtraction();
    }
    double copy = RunCopyFile(extracted, work + "\\copy.bin");
    std::fprintf(stderr, "run %d: extract %.3f s, bare loop %.3f s, CopyFileA %.3f s\n", i + 1, run,
                 bare, copy);
    bestRun = run < bestRun ? run : bestRun;
    bestBare = bare < bestBare ? bare : bestBare;
    bestCopy = copy < bestCopy ? copy : bestCopy;
  }
  std::printf("extract %.3f bare %.3f copyfile %.3f\n", bestRun, bestBare, bestCopy);
  return 0;
}
