// The files the request count runs on, for each size in MiB: Update-<n>.exe,
// this build's updater with one plain entry of n MiB, and entry-<n>.bin, the
// same bytes for the floor program to copy.
//
//   request_files.exe DIR MIB...
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "test_files.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: request_files DIR MIB...\n");
    return 2;
  }
  const std::string dir = argv[1];
  CreateDirectoryA(dir.c_str(), nullptr);
  const std::string mebibyte(1 << 20, '\x5A');
  for (int i = 2; i < argc; ++i) {
    const std::string mib = argv[i];
    const size_t count = std::strtoul(mib.c_str(), nullptr, 10);
    PatchLayout layout;
    layout.files = {{"entry.bin", mebibyte, count}};
    if (count == 0 || !MakeUpdaterFile(dir + "\\Update-" + mib + ".exe", layout)) return 1;
    std::ofstream entry(dir + "\\entry-" + mib + ".bin", std::ios::binary);
    for (size_t k = 0; k < count; ++k) entry.write(mebibyte.data(), mebibyte.size());
    if (!entry.flush()) return 1;
  }
  return 0;
}
