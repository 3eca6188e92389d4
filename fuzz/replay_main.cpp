// A fuzz target's LLVMFuzzerTestOneInput run on files, without libFuzzer:
// what the fuzzers found, replayed in the 32-bit Windows build the players
// and release engineers run (a 32-bit size_t, the Windows C runtime), where
// the native fuzzers never go.
//
// <target>_replay PATH...: each PATH a file, or a folder whose files are
// each an input (not recursive). Ends with 0 when every input ran, and
// names the input that was running when one aborts or crashes.
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// The input running, for the handler of a failed check or a crash.
char g_running[1024];

extern "C" void NameInputAndEnd(int signal) {
  std::fprintf(stderr, "replay: signal %d on the input %s\n", signal, g_running);
  std::fflush(stderr);
  std::_Exit(3);
}

bool ReadAll(const std::filesystem::path& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// The files of `path`, in a stable order: the folder's sorted by name.
std::vector<std::filesystem::path> InputsOf(const std::filesystem::path& path) {
  std::vector<std::filesystem::path> inputs;
  std::error_code error;
  if (!std::filesystem::is_directory(path, error)) {
    inputs.push_back(path);
    return inputs;
  }
  for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
    if (entry.is_regular_file(error)) inputs.push_back(entry.path());
  }
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]);
    return 2;
  }
  std::signal(SIGABRT, NameInputAndEnd);
  std::signal(SIGSEGV, NameInputAndEnd);
  std::signal(SIGFPE, NameInputAndEnd);
  std::signal(SIGILL, NameInputAndEnd);
  size_t ran = 0;
  std::vector<uint8_t> bytes;
  for (int i = 1; i < argc; ++i) {
    for (const std::filesystem::path& input : InputsOf(argv[i])) {
      if (!ReadAll(input, &bytes)) {
        std::fprintf(stderr, "replay: cannot read %s\n", input.string().c_str());
        return 1;
      }
      std::snprintf(g_running, sizeof g_running, "%s", input.string().c_str());
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++ran;
    }
  }
  std::printf("replay: %lu inputs ran\n", static_cast<unsigned long>(ran));
  return ran > 0 ? 0 : 1;
}
