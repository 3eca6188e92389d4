#include <iostream>
#include <string>
#include <vector>

#include "mkpatch/commands/mkpatch.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include "mkpatch/fs/name_encoding.h"
#include "update/base/unique_resource.h"

namespace {
// The argument vector the system allocated for us.
bool FreeLocalArgv(LPWSTR* argv) { return LocalFree(argv) == nullptr; }
using UniqueLocalArgv = UniqueResource<LPWSTR*, FreeLocalArgv>;

// Names and messages are UTF-8; let the console show them as such for the
// run, then hand it back as it was.
class ConsoleUtf8 {
 public:
  ConsoleUtf8() : previous_(GetConsoleOutputCP()) {
    if (previous_ != 0) SetConsoleOutputCP(CP_UTF8);
  }
  ~ConsoleUtf8() {
    if (previous_ != 0) SetConsoleOutputCP(previous_);
  }

 private:
  UINT previous_;
};

// The ANSI argv cannot hold names outside the code page; take the wide
// command line and work in UTF-8 like the Linux build.
std::vector<std::string> Arguments() {
  std::vector<std::string> args;
  int count = 0;
  UniqueLocalArgv wide(CommandLineToArgvW(GetCommandLineW(), &count));
  if (!wide) return args;
  for (int i = 1; i < count; ++i) args.push_back(WideToUtf8(wide.Get()[i]));
  return args;
}
}  // namespace

int main() {
  ConsoleUtf8 console;
  return RunMkpatch(Arguments(), std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
  return RunMkpatch(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
#endif
