#include "update/codec/x86_branch_filter.h"

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
    if (!IsX86BranchOpcode(bytes[at])) {
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
    if (flag > 1) return DecodeError::X86Flag;
    if (flag == 1) {
      siteBytes_ = 4;
      siteEnd_ = static_cast<uint32_t>(offset_ + 5);
      borrow_ = 0;
    }
  }
  return DecodeError::None;
}

DecodeError X86BranchRestorer::Finish() {
  if (siteBytes_ != 0) return DecodeError::X86SiteCut;
  return flags_.Finish();
}
