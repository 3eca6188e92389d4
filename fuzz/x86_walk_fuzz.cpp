// The instruction walk walks long stretches of code in lanes side by side,
// each from a guess of where an instruction starts, and decodes common
// instructions by a shorter path than one decoded alone: whatever the bytes,
// it must find exactly what stepping one instruction at a time finds, and
// each step what DecodeX86Instruction says. The reference scan of an image
// whose code is these bytes, with its code walked in two halves joined where
// they meet, must find what one walk finds. Aborts on any difference.
//
// Input: byte 0 bit 0 x64, bit 1 the code's end is the buffer's end
// (`final`), bits 2-7 how often a pointer of the relocation table starts
// (none for 0); the rest is the code.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "update/base/little_endian.h"
#include "update/codec/pe_references.h"
#include "update/codec/x86_instruction.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

constexpr uint32_t kCodeRva = 0x1000;

// The code, then a relocation table listing the pointers: an image's file
// whose layout is `layout`.
std::vector<unsigned char> ImageOf(const unsigned char* code, size_t length, bool x64,
                                   const std::vector<uint8_t>& pointers, PeLayout* layout) {
  std::vector<unsigned char> file(code, code + length);
  const uint32_t tableRva = kCodeRva + static_cast<uint32_t>((length + 0xFFF) & ~size_t(0xFFF));
  for (size_t page = 0; page < length; page += 0x1000) {
    const size_t header = file.size();
    file.resize(header + 8);
    for (size_t i = page; i < length && i < page + 0x1000; ++i) {
      if (pointers[i] == 0) continue;
      const uint16_t entry = static_cast<uint16_t>((pointers[i] == 8 ? 10 : 3) << 12 | (i & 0xFFF));
      file.push_back(static_cast<unsigned char>(entry));
      file.push_back(static_cast<unsigned char>(entry >> 8));
    }
    if ((file.size() - header) % 4 != 0) file.resize(file.size() + 2);
    WriteLe32(&file[header], kCodeRva + static_cast<uint32_t>(page));
    WriteLe32(&file[header + 4], static_cast<uint32_t>(file.size() - header));
  }
  const uint32_t tableSize = static_cast<uint32_t>(file.size() - length);
  layout->machine = x64 ? PeMachine::X64 : PeMachine::X86;
  layout->imageBase = x64 ? 0x180000000ull : 0x10000000u;
  layout->imageSize = tableRva + ((tableSize + 0xFFF) & ~0xFFFu);
  // The pointers point into the image (mostly), so that their targets count.
  for (size_t i = 0; i + 8 <= length; ++i) {
    if (pointers[i] == 0) continue;
    const uint64_t value = layout->imageBase + ReadLe32(&file[i]) % (layout->imageSize + 64);
    WriteLe32(&file[i], static_cast<uint32_t>(value));
    if (pointers[i] == 8) WriteLe32(&file[i + 4], static_cast<uint32_t>(value >> 32));
  }
  PeSection text;
  text.address = kCodeRva;
  text.virtualSize = static_cast<uint32_t>(length);
  text.rawSize = static_cast<uint32_t>(length);
  text.code = true;
  PeSection relocations;
  relocations.address = tableRva;
  relocations.virtualSize = relocations.rawSize = tableSize;
  relocations.rawOffset = static_cast<uint32_t>(length);
  layout->sections = {text, relocations};
  layout->relocations = {tableRva, tableSize};
  return file;
}

// The scan with the code walked in halves finds what one walk finds.
void RequireHalvesAsOne(const unsigned char* code, size_t length, bool x64,
                        const std::vector<uint8_t>& pointers) {
  if (length < 2) return;
  PeLayout layout;
  const std::vector<unsigned char> file = ImageOf(code, length, x64, pointers, &layout);
  MemoryByteSource source(file.data(), file.size());
  GrowableArray<PeReference> one, halves;
  const ReferenceScan alone = FindPeReferences(source, layout, &one);
  InlineWorkerThread worker;
  ReferenceScanHelp help;
  help.worker = &worker;
  help.splitFrom = 2;
  // Mostly room to meet, sometimes only a few bytes.
  help.meetWithin = length % 3 == 0 ? 1 + static_cast<uint32_t>(length % 7) : 16 * 1024;
  Require(FindPeReferences(source, layout, &halves, help) == alone);
  Require(one.Size() == halves.Size());
  for (size_t i = 0; i < one.Size(); ++i) {
    Require(one[i].location == halves[i].location && one[i].packed == halves[i].packed);
  }
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
  RequireHalvesAsOne(code, length, x64, pointers);
  return 0;
}
