// What the native mkpatch tests share: a fresh directory per test, whole-file
// reads and writes, and mkpatch run as a function with its output kept.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "mkpatch/commands/mkpatch.h"

namespace mkpatch_test {

namespace fs = std::filesystem;

inline std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string Text(const std::vector<unsigned char>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// Bytes no delta or compressor can do anything with.
inline std::string Noise(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

inline std::string Repeated(const std::string& text, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += text;
  return all;
}

// A fresh directory per test, removed afterwards.
class MkpatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "mkpatch_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  int Run(std::vector<std::string> args) {
    std::ostringstream out, err;
    int code = RunMkpatch(args, out, err);
    out_ = out.str();
    err_ = err.str();
    return code;
  }
  std::string P(const std::string& relative) const { return (dir_ / relative).string(); }
  std::vector<std::string> Build(std::vector<std::string> inputs,
                                 const std::string& base = "1.4.1.33960",
                                 const std::string& target = "1.4.1.34242") {
    std::vector<std::string> args = {"build",  "-o", P("out.exe"), "--stub", P("stub.exe"),
                                     "--base", base, "--target",   target};
    args.insert(args.end(), inputs.begin(), inputs.end());
    return args;
  }
  // Only the files a test made itself: no output, no temporary left over.
  std::vector<std::string> FilesInTop() const {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(dir_)) names.push_back(item.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
  std::string out_, err_;
};

}  // namespace mkpatch_test
