// The instruction walk walks long stretches of code in lanes side by side,
// each from a guess of where an instruction starts, and decodes common
// instructions by a shorter path than one decoded alone: whatever the bytes,
// it must find exactly what stepping one instruction at a time finds, and
// each step what DecodeX86Instruction says. Aborts on any difference.
//
// Input: byte 0 bit 0 x64, bit 1 the code's end is the buffer's end
// (`final`), bits 2-7 how often a pointer of the relocation table starts
// (none for 0); the rest is the code.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "update/codec/x86_instruction.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const bool x64 = (data[0] & 1) != 0, final = (data[0] & 2) != 0;
  const unsigned every = data[0] >> 2;
  const unsigned char* code = data + 1;
  const size_t length = size - 1;
  std::vector<uint8_t> pointers(length);
  for (size_t i = 0; every != 0 && i < length; ++i) {
    const uint32_t hash = static_cast<uint32_t>(i * 2654435761u) >> 8;
    if (hash % (every * 4) == 0) pointers[i] = hash & 1 ? 8 : 4;
  }
  // One step at a time.
  std::vector<X86OperandSite> sites(X86WalkSitesMax(length)), one(X86WalkSitesMax(1));
  std::vector<size_t> starts;
  size_t at = 0;
  while (at < length && (final || length - at >= X86_INSTRUCTION_MAX)) {
    size_t count = 0;
    const size_t next =
        WalkX86(code, at, at + 1, length, final, x64, pointers.data(), one.data(), &count);
    const size_t left = length - at < X86_INSTRUCTION_MAX ? length - at : X86_INSTRUCTION_MAX;
    const X86Instruction decoded = DecodeX86Instruction(code + at, left, x64);
    if (pointers[at] != 0) {
      Require(next == at + pointers[at] && count == 0);
    } else {
      Require(next == at + (decoded.length != 0 ? decoded.length : 1));
      Require(count == (decoded.operand != X86Operand::None ? 1u : 0u));
      if (count == 1) {
        Require(one[0].instruction.operand == decoded.operand &&
                one[0].instruction.operandOffset == decoded.operandOffset);
        starts.push_back(at);
      }
    }
    at = next;
  }
  // The whole walk.
  size_t count = 0;
  const size_t walked =
      WalkX86(code, 0, length, length, final, x64, pointers.data(), sites.data(), &count);
  Require(walked == at && count == starts.size());
  for (size_t i = 0; i < count; ++i) Require(sites[i].start == starts[i]);
  return 0;
}
