#include "whole_file.h"

#include <fstream>
#include <iterator>

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool WriteWholeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  return WriteWholeFile(path, std::string(bytes.begin(), bytes.end()));
}
