// The automatic run applying a patch that ships a file as a delta, against
// the same run with the new file stored whole, on the same game; and the
// run's peak memory.
//   apply_bench compare OLD DELTA_UPDATER WHOLE_UPDATER RUNS
//       OLD: the installed file (Windows path). Before every run the game
//       holds OLD as engine.dll; the two updaters take turns, the first
//       place alternating. Prints the best seconds of each and how many
//       progress reports each run made. The runs are this program's own
//       session reading each updater's payload: two builds of the updater
//       are compared through two builds of this program, not here.
//   apply_bench peak OLD UPDATER
//       one run, then its seconds and the process's PeakWorkingSetSize.
//   apply_bench decode OLD DATA RUNS [--one-thread]
//       the decoder alone: DATA as codec_bench writes it (the decoded size,
//       4 bytes little-endian, the coding, then the entry data) decoded
//       against OLD into a digest, with a worker thread as the run has one
//       (or without), and OLD's own digest (what the run's checks take of
//       the installed file); best seconds of each.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "update/codec/digest_sink.h"
#include "update/files/win32_worker_thread.h"
#include "update/session/host_hooks.h"
#include "update/session/installed_file.h"
#include "update/session/run_outcome.h"
#include "update/session/update_session.h"

namespace {

std::string g_updater;
uint32_t g_reports = 0;
uint32_t g_byteReports = 0;

uint32_t BenchOwnPath(char* buffer, uint32_t size) {
  std::snprintf(buffer, size, "%s", g_updater.c_str());
  return static_cast<uint32_t>(g_updater.size());
}

void PrintWarning(const char* text) { std::fprintf(stderr, "warning: %s\n", text); }

void CountReport(uint32_t, uint32_t code, uint32_t, uint32_t) {
  ++g_reports;
  if (code == PG_EXTRACT_BYTES) ++g_byteReports;
}

double Now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The game at its base version with the old file installed.
bool ResetGame(const std::string& game, const std::string& old) {
  WritePrivateProfileStringA("Version", "GameVersion", "1.0.0.1",
                             (game + "\\Config\\Client.ini").c_str());
  const std::string installed = game + "\\engine.dll";
  SetFileAttributesA(installed.c_str(), FILE_ATTRIBUTE_NORMAL);
  return CopyFileA(old.c_str(), installed.c_str(), FALSE) != FALSE;
}

// One automatic run of `updater`, as the worker makes it; seconds, or a
// negative number when the run failed.
double Run(const std::string& updater) {
  g_updater = updater;
  g_reports = g_byteReports = 0;
  RunChecks checks;
  const double start = Now();
  const bool applied = g_UpdateSession.ApplyPatch(checks) != 0;
  const double seconds = Now() - start;
  return applied ? seconds : -1;
}

// The decoder's part of a run, and the installed file's digest, apart.
int TimeDecoder(const char* oldPath, const char* dataPath, int runs, bool oneThread) {
  FILE* file = std::fopen(dataPath, "rb");
  if (file == nullptr) return 1;
  std::string data;
  char chunk[65536];
  for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) data.append(chunk, got);
  std::fclose(file);
  if (data.size() < 5) return 1;
  uint32_t decodedSize = 0;
  for (int i = 0; i < 4; ++i)
    decodedSize |= uint32_t(static_cast<unsigned char>(data[i])) << (8 * i);
  MemoryByteSource stored(data.data() + 5, data.size() - 5);
  double bestDecode = 1e30, bestDigest = 1e30;
  for (int round = 0; round < runs; ++round) {
    InstalledFile old;
    if (!old.Open(oldPath).Ok()) return 1;
    DecodeRequest request;
    request.coding = static_cast<EntryCoding>(data[4]);
    request.stored = &stored;
    request.storedSize = data.size() - 5;
    request.source = &old;
    request.decodedSize = decodedSize;
    Win32WorkerThread worker;
    if (!oneThread) request.worker = &worker;
    DigestSink sink(nullptr);
    double start = Now();
    const DecodeError error = DecodeEntryData(request, sink);
    const double decode = Now() - start;
    if (error != DecodeError::None) {
      std::fprintf(stderr, "decode failed: %s\n", DecodeErrorText(error));
      return 1;
    }
    unsigned char md5[16];
    start = Now();
    if (!old.Digest(md5).Ok()) return 1;
    const double digest = Now() - start;
    if (decode < bestDecode) bestDecode = decode;
    if (digest < bestDigest) bestDigest = digest;
  }
  std::printf("decode %.3f old_digest %.3f\n", bestDecode, bestDigest);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: apply_bench compare OLD DELTA_UPDATER WHOLE_UPDATER RUNS | "
                 "peak OLD UPDATER | decode OLD DATA RUNS [--one-thread]\n");
    return 2;
  }
  const std::string mode = argv[1];
  const std::string old = argv[2];
  if (mode == "decode") {
    const bool oneThread = argc == 6 && std::string(argv[5]) == "--one-thread";
    if (argc != 5 && !oneThread) return 2;
    return TimeDecoder(argv[2], argv[3], std::atoi(argv[4]), oneThread);
  }
  char work[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, work);
  const std::string game = std::string(work) + "\\game";
  CreateDirectoryA(game.c_str(), nullptr);
  CreateDirectoryA((game + "\\Config").c_str(), nullptr);
  SetOwnPathProvider(&BenchOwnPath);
  SetWarningSink(&PrintWarning);
  UpdateSession::SetProgressCallback(&CountReport, 0);
  g_UpdateSession.SetGameDir(game.c_str());
  g_UpdateSession.autoMode = true;

  if (mode == "peak") {
    if (!ResetGame(game, old)) return 1;
    const double seconds = Run(argv[3]);
    if (seconds < 0) return 1;
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    std::printf("seconds %.3f\n", seconds);
    std::printf("peak_working_set %lu\n", static_cast<unsigned long>(counters.PeakWorkingSetSize));
    return 0;
  }
  if (mode != "compare" || argc < 6) return 2;
  const std::string updaters[2] = {argv[3], argv[4]};
  const int runs = std::atoi(argv[5]);
  double best[2] = {1e30, 1e30};
  uint32_t reports[2] = {0, 0}, byteReports[2] = {0, 0};
  for (int round = 0; round < runs; ++round) {
    for (int turn = 0; turn < 2; ++turn) {
      const int which = (round + turn) % 2;
      if (!ResetGame(game, old)) return 1;
      const double seconds = Run(updaters[which]);
      if (seconds < 0) {
        std::fprintf(stderr, "the run of %s failed\n", updaters[which].c_str());
        return 1;
      }
      if (seconds < best[which]) best[which] = seconds;
      reports[which] = g_reports;
      byteReports[which] = g_byteReports;
    }
  }
  std::printf("delta %.3f whole %.3f reports %u %u bytes_reports %u %u\n", best[0], best[1],
              reports[0], reports[1], byteReports[0], byteReports[1]);
  return 0;
}
