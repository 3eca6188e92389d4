#include "update/codec/x86_branch_filter.h"

#include "update/codec/opcode_scan.h"

namespace {

bool IsOpcode(unsigned char byte) { return byte == 0xE8 || byte == 0xE9; }

}  // namespace

X86Split ConvertX86Branches(const unsigned char* data, size_t size) {
  X86Split split;
  split.main.assign(data, data + size);
  unsigned char* bytes = split.main.data();
  for (size_t at = 0; at < size; ++at) {
    if (!IsOpcode(bytes[at])) continue;
    const bool site = at + 4 < size && (bytes[at + 4] == 0x00 || bytes[at + 4] == 0xFF);
    split.flags.push_back(site ? 1 : 0);
    if (!site) continue;
    uint32_t value =
        static_cast<uint32_t>(bytes[at + 1]) | static_cast<uint32_t>(bytes[at + 2]) << 8 |
        static_cast<uint32_t>(bytes[at + 3]) << 16 | static_cast<uint32_t>(bytes[at + 4]) << 24;
    value += static_cast<uint32_t>(at + 5);
    for (int k = 0; k < 4; ++k) bytes[at + 1 + k] = static_cast<unsigned char>(value >> (8 * k));
    at += 4;
  }
  return split;
}

DecodeError X86BranchRestorer::Restore(unsigned char* bytes, size_t size) {
  for (size_t at = 0; at < size; ++at, ++offset_) {
    if (siteBytes_ > 0) {
      // Subtracting the site's end from the target, a byte at a time, low
      // byte first, carries the borrow across chunks.
      const unsigned take = static_cast<unsigned>(siteEnd_ & 0xFF) + borrow_;
      const unsigned byte = bytes[at];
      bytes[at] = static_cast<unsigned char>(byte - take);
      borrow_ = byte < take ? 1 : 0;
      siteEnd_ >>= 8;
      --siteBytes_;
      continue;
    }
    if (!IsOpcode(bytes[at])) {
      // Straight on to the next opcode, or to the end of the chunk.
      const size_t next = NextBranchOpcode(bytes, at, size);
      offset_ += next - at;
      at = next;
      if (at == size) break;
    }
    unsigned char flag = 0;
    if (DecodeError error = ReadExactly(flags_, &flag, 1); error != DecodeError::None) {
      return error;
    }
    if (flag > 1) return DecodeError::Corrupt;
    if (flag == 1) {
      siteBytes_ = 4;
      siteEnd_ = static_cast<uint32_t>(offset_ + 5);
      borrow_ = 0;
    }
  }
  return DecodeError::None;
}

DecodeError X86BranchRestorer::Finish() {
  if (siteBytes_ != 0) return DecodeError::Corrupt;
  return flags_.Finish();
}
