// The length of one x86 or x64 instruction and where its 32-bit relative
// operand lies, if it has one: a call, jump or conditional jump to a 32-bit
// displacement, or (x64) a memory operand addressed relative to the next
// instruction (RIP-relative). The reference-aware delta walks code sections
// with this, instruction by instruction, to find the references that change
// whenever code moves. Portable; the encoder and the decoder run this same
// code, so they find the same references.
//
// A length decoder, not a disassembler: it knows prefixes (legacy, REX, VEX,
// EVEX, XOP), the one-, two- and three-byte opcode maps, ModRM, SIB,
// displacements and immediates. Bytes that are no instruction in the mode
// are reported as invalid; the walk then moves on by one byte.
#pragma once

#include <cstddef>
#include <cstdint>

// The longest instruction the processor accepts.
constexpr size_t X86_INSTRUCTION_MAX = 15;

enum class X86Operand : uint8_t {
  None = 0,
  Branch = 1,       // E8, E9, 0F 80-8F with a 32-bit displacement
  RipRelative = 2,  // x64 ModRM memory operand relative to the next instruction
};

// Returned by value from the walk's hot loop: a length of a whole word keeps
// the compiler from building the result through memory (a byte store read
// back as a wider word stalls the processor on every instruction walked).
struct X86Instruction {
  uint32_t length = 0;  // 0: not a valid instruction
  X86Operand operand = X86Operand::None;
  uint8_t operandOffset = 0;  // where the 32-bit displacement starts
};

// Decodes the instruction at `code` (`available` bytes readable; at most
// X86_INSTRUCTION_MAX are looked at) in 64-bit mode when `x64`, else 32-bit.
X86Instruction DecodeX86Instruction(const unsigned char* code, size_t available, bool x64);

// An instruction with a relative operand, found by WalkX86.
struct X86OperandSite {
  size_t start;  // of the instruction, in the walked buffer
  X86Instruction instruction;
};

// Walks code[at, ...) instruction by instruction while instructions start
// before `stop` (at most `available`) and their X86_INSTRUCTION_MAX bytes
// lie before `available` (or, when `final`, before `available` as far as
// they reach: the code's end). `pointers` has a byte per byte of the
// buffer: the width of a pointer the relocation table lists starting
// there, or 0; where an instruction would start at one, the walk steps
// over the pointer as data. A byte that starts no instruction is stepped
// over. Records the instructions with a relative operand in `sites`
// (room for X86WalkSitesMax(stop - at)), *count of them, and returns where
// the walk stopped: the next instruction's start.
size_t WalkX86(const unsigned char* code, size_t at, size_t stop, size_t available, bool final,
               bool x64, const uint8_t* pointers, X86OperandSite* sites, size_t* count);
// The room WalkX86 needs for the sites of `bytes` bytes of code.
size_t X86WalkSitesMax(size_t bytes);
