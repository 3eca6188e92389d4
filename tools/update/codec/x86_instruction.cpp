#include "update/codec/x86_instruction.h"

namespace {

// One bit per opcode, 16 bits a row of the opcode map (bit n of word r is
// opcode r*16 + n).
using OpcodeSet = uint16_t[16];

constexpr bool Has(const OpcodeSet set, unsigned opcode) {
  return ((set[opcode >> 4] >> (opcode & 15)) & 1) != 0;
}

// One-byte map: opcodes followed by ModRM.
constexpr OpcodeSet kModRm1 = {
    0x0F0F, 0x0F0F, 0x0F0F, 0x0F0F,          // 00-3F: the ALU r/m forms
    0x0000, 0x0000, 0x0A0C,                  // 40-6F: 62 63, 69 6B
    0x0000, 0xFFFF, 0x0000, 0x0000, 0x0000,  // 80-8F
    0x00F3,                                  // C0 C1 C4 C5 C6 C7
    0xFF0F,                                  // D0-D3, D8-DF
    0x0000, 0xC0C0,                          // F6 F7 FE FF
};
// One-byte map: an 8-bit immediate.
constexpr OpcodeSet kImm8_1 = {
    0x1010, 0x1010, 0x1010, 0x1010,  // 04 0C 14 1C 24 2C 34 3C
    0x0000, 0x0000, 0x0C00,          // 6A 6B
    0xFFFF,                          // 70-7F jcc rel8
    0x000D,                          // 80 82 83
    0x0000, 0x0100,                  // A8
    0x00FF,                          // B0-B7
    0x2043,                          // C0 C1 C6 CD
    0x0030,                          // D4 D5
    0x08FF,                          // E0-E7, EB
    0x0000,
};
// One-byte map: a 16- or 32-bit immediate (by operand size).
constexpr OpcodeSet kImmZ_1 = {
    0x2020, 0x2020, 0x2020, 0x2020,  // 05 0D ... 3D
    0x0000, 0x0000, 0x0300,          // 68 69
    0x0000, 0x0002,                  // 81
    0x0000, 0x0200,                  // A9
    0xFF00,                          // B8-BF (64 bits with REX.W)
    0x0080,                          // C7
    0x0000, 0x0300,                  // E8 E9
    0x0000,
};
// One-byte map: what the table alone does not settle (escapes, prefixes of
// extended encodings, branches, odd immediates, group 3).
constexpr OpcodeSet kSpecial1 = {
    0x8000,  // 0F
    0x0000, 0x0000, 0x0000, 0x0000, 0x0000,
    0x0004,  // 62
    0x0000,
    0x8000,  // 8F
    0x0400,  // 9A
    0x000F,  // A0-A3
    0x0000,
    0x0534,  // C2 C4 C5 C8 CA
    0x0000,
    0x0700,  // E8 E9 EA
    0x00C0,  // F6 F7
};
// Legacy prefixes: lock, repeats, segments.
constexpr OpcodeSet kPrefixes = {
    0x0000, 0x0000,
    0x4040,  // 26 2E
    0x4040,  // 36 3E
    0x0000, 0x0000,
    0x0030,  // 64 65 (66 and 67 are handled apart)
    0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000,
    0x000D,  // F0 F2 F3
};
// Two-byte map (0F xx): opcodes without ModRM.
constexpr OpcodeSet kNoModRm2 = {
    0x4BE0,  // 05 06 07 08 09 0B 0E
    0x0000, 0x0000,
    0x00FF,  // 30-37
    0x0000, 0x0000, 0x0000,
    0x0080,  // 77
    0xFFFF,  // 80-8F
    0x0000,
    0x0707,  // A0 A1 A2 A8 A9 AA
    0x0000,
    0xFF00,  // C8-CF
    0x0000, 0x0000, 0x0000,
};
// Two-byte map: an 8-bit immediate.
constexpr OpcodeSet kImm8_2 = {
    0x8000,  // 0F (3DNow!, the opcode comes as the immediate)
    0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000,
    0x000F,  // 70-73
    0x0000, 0x0000,
    0x1010,  // A4 AC
    0x0400,  // BA
    0x0074,  // C2 C4 C5 C6
    0x0000, 0x0000, 0x0000,
};
// Two-byte opcodes that are no instruction (in either mode).
constexpr OpcodeSet kInvalid2 = {
    0x1410,  // 04 0A 0C
    0x0000,
    0x00F0,  // 24-27 (the test registers are gone)
    0xFF00,  // 39 3B-3F (38 and 3A are the three-byte maps, taken first)
    0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000,
    0x00C0,  // A6 A7
    0x0000, 0x0000, 0x0000, 0x0000, 0x0000,
};

// Per opcode, what decoding needs, in one byte: the instruction walk looks
// at millions of opcodes.
enum : uint8_t {
  kModRm = 1,
  kImm8 = 2,
  kImmZ = 4,
  kSpecial = 8,   // one-byte map: handled case by case
  kDropped = 16,  // one-byte map: not an instruction in 64-bit mode
  kPrefix = 32,   // one-byte map: a legacy prefix
  kInvalid = 16,  // two-byte map: not an instruction
  kBranch = 64,   // two-byte map: jcc with a 32-bit displacement
};

struct Tables {
  uint8_t one[256];
  uint8_t two[256];
  // Per ModRM byte in 32- and 64-bit addressing: the displacement's bytes,
  // 0x10 when a SIB byte follows, 0x20 when the displacement is relative to
  // the next instruction in 64-bit mode.
  uint8_t modrm[256];
};

constexpr Tables MakeTables() {
  Tables tables = {};
  for (unsigned op = 0; op < 256; ++op) {
    uint8_t one = 0;
    if (Has(kModRm1, op)) one |= kModRm;
    if (Has(kImm8_1, op)) one |= kImm8;
    if (Has(kImmZ_1, op)) one |= kImmZ;
    if (Has(kSpecial1, op)) one |= kSpecial;
    if (Has(kPrefixes, op)) one |= kPrefix;
    tables.one[op] = one;
    uint8_t two = 0;
    if (!Has(kNoModRm2, op)) two |= kModRm;
    if (Has(kImm8_2, op)) two |= kImm8;
    if (Has(kInvalid2, op)) two |= kInvalid;
    if (op >= 0x80 && op <= 0x8F) two |= kBranch;
    tables.two[op] = two;
    const unsigned mod = op >> 6, rm = op & 7;
    uint8_t modrm = 0;
    if (mod != 3) {
      if (rm == 4) modrm |= 0x10;
      if (mod == 0 && rm == 5) modrm |= 4 | 0x20;
      if (mod == 1) modrm |= 1;
      if (mod == 2) modrm |= 4;
    }
    tables.modrm[op] = modrm;
  }
  // Opcodes that 64-bit mode dropped.
  const unsigned dropped[] = {0x06, 0x07, 0x0E, 0x16, 0x17, 0x1E, 0x1F, 0x27, 0x2F, 0x37,
                              0x3F, 0x60, 0x61, 0x82, 0x9A, 0xCE, 0xD4, 0xD5, 0xD6, 0xEA};
  for (unsigned op : dropped) tables.one[op] |= kDropped;
  return tables;
}

constexpr Tables kTables = MakeTables();

// What the prefixes said.
struct Prefixes {
  bool operandSize = false;  // 66
  bool addressSize = false;  // 67
  bool rexW = false;
};

// The walk decodes millions of instructions: the pieces of one are inlined
// into it.
#if defined(_MSC_VER)
#define X86_HOT __forceinline
#else
#define X86_HOT inline __attribute__((always_inline))
#endif

// What ModRmLength returns besides the length: the operand is relative to
// the next instruction.
constexpr size_t kRipRelative = 0x100;

// The ModRM byte at `at` and what follows it (SIB, displacement): the bytes
// they take, with kRipRelative added for a RIP-relative operand, or 0 when
// they run past `available`. A plain value, never written through a
// pointer: the walk reads it at once.
X86_HOT size_t ModRmLength(const unsigned char* code, size_t at, size_t available, bool x64,
                           bool addressSize) {
  if (at >= available) return 0;
  const unsigned modrm = code[at];
  size_t length = 1;
  if (!x64 && addressSize) {  // 16-bit addressing
    const unsigned mod = modrm >> 6, rm = modrm & 7;
    if (mod == 0 && rm == 6) length += 2;
    if (mod == 1) length += 1;
    if (mod == 2) length += 2;
    return at + length <= available ? length : 0;
  }
  const uint8_t info = kTables.modrm[modrm];
  length += info & 0x0F;
  if ((info & 0x10) != 0) {
    if (at + 1 >= available) return 0;
    length += 1;
    if ((modrm >> 6) == 0 && (code[at + 1] & 7) == 5) length += 4;
  }
  if (at + length > available) return 0;
  return (info & 0x20) != 0 && x64 && !addressSize ? length | kRipRelative : length;
}

// The instruction of `length` bytes, if it fits, with its operand: a branch's
// displacement ends it; a RIP-relative one follows the ModRM at `modrmAt`.
X86_HOT X86Instruction Complete(size_t length, size_t available, bool branch, bool rip,
                                size_t modrmAt) {
  X86Instruction result;
  if (length > available || length > X86_INSTRUCTION_MAX) return result;
  result.length = static_cast<uint32_t>(length);
  if (branch) {
    result.operand = X86Operand::Branch;
    result.operandOffset = static_cast<uint8_t>(length - 4);
  } else if (rip) {
    result.operand = X86Operand::RipRelative;
    result.operandOffset = static_cast<uint8_t>(modrmAt + 1);
  }
  return result;
}

// Instructions after a VEX, EVEX or XOP prefix: `map` is the opcode map the
// prefix named, `at` the opcode's position.
X86Instruction DecodeExtended(const unsigned char* code, size_t at, size_t available, bool x64,
                              unsigned map, bool addressSize) {
  X86Instruction result;
  if (at >= available) return result;
  const unsigned opcode = code[at];
  size_t immediate = 0;
  bool modrm = true;
  switch (map) {
    case 1:                               // 0F
      if (opcode == 0x77) modrm = false;  // vzeroupper, vzeroall
      if ((opcode >= 0x70 && opcode <= 0x73) || opcode == 0xC2 ||
          (opcode >= 0xC4 && opcode <= 0xC6)) {
        immediate = 1;
      }
      break;
    case 2:  // 0F 38
    case 5:  // EVEX maps of half-precision arithmetic
    case 6:
    case 9:  // XOP
      break;
    case 3:  // 0F 3A
    case 8:  // XOP
      immediate = 1;
      break;
    case 10:  // XOP
      immediate = 4;
      break;
    default:
      return result;
  }
  size_t length = at + 1;
  bool rip = false;
  size_t modrmAt = length;
  if (modrm) {
    const size_t used = ModRmLength(code, length, available, x64, addressSize);
    if (used == 0) return result;
    rip = (used & kRipRelative) != 0;
    length += used & (kRipRelative - 1);
  }
  return Complete(length + immediate, available, false, rip, modrmAt);
}

// The opcodes kSpecial marks, at `at` after the prefixes.
X86Instruction DecodeSpecial(const unsigned char* code, size_t at, size_t available, bool x64,
                             const Prefixes& prefixes) {
  X86Instruction result;
  const unsigned opcode = code[at];
  const size_t operandBytes = prefixes.operandSize ? 2 : 4;
  // VEX (C4, C5), EVEX (62) and XOP (8F): in 32-bit mode only when the next
  // byte would be a register ModRM, since there they are LES, LDS, BOUND, POP.
  if (opcode == 0xC4 || opcode == 0xC5 || opcode == 0x62 || opcode == 0x8F) {
    if (at + 1 >= available) return result;
    const unsigned next = code[at + 1];
    const bool extended = opcode == 0x8F ? (next & 0x1F) >= 8 : (x64 || (next & 0xC0) == 0xC0);
    if (extended) {
      if (opcode == 0xC5) {
        return DecodeExtended(code, at + 2, available, x64, 1, prefixes.addressSize);
      }
      if (opcode == 0x62) {
        if (at + 3 >= available) return result;
        return DecodeExtended(code, at + 4, available, x64, next & 7, prefixes.addressSize);
      }
      if (at + 2 >= available) return result;
      return DecodeExtended(code, at + 3, available, x64, next & 0x1F, prefixes.addressSize);
    }
  }
  size_t length = at + 1;
  bool modrm = (kTables.one[opcode] & kModRm) != 0;
  size_t immediate = (kTables.one[opcode] & kImm8) != 0 ? 1 : 0;
  bool branch = false;
  switch (opcode) {
    case 0x0F: {
      if (length >= available) return result;
      const unsigned second = code[length++];
      if (second == 0x38 || second == 0x3A) {
        if (length >= available) return result;
        ++length;  // the third opcode byte
        modrm = true;
        immediate = second == 0x3A ? 1 : 0;
        break;
      }
      const uint8_t info = kTables.two[second];
      if ((info & kInvalid) != 0) return result;
      modrm = (info & kModRm) != 0;
      immediate = (info & kImm8) != 0 ? 1 : 0;
      if ((info & kBranch) != 0) {
        immediate = x64 ? 4 : operandBytes;  // near branches ignore the operand size in x64
        branch = !prefixes.operandSize;
      }
      break;
    }
    case 0xE8:
    case 0xE9:
      branch = !prefixes.operandSize;
      immediate = x64 ? 4 : operandBytes;
      break;
    case 0xA0:
    case 0xA1:
    case 0xA2:
    case 0xA3:  // moffs: an address
      immediate = x64 ? (prefixes.addressSize ? 4 : 8) : (prefixes.addressSize ? 2 : 4);
      break;
    case 0xC2:
    case 0xCA:
      immediate = 2;
      break;
    case 0xC8:
      immediate = 3;
      break;
    case 0x9A:
    case 0xEA:  // far pointer (32-bit mode only)
      immediate = operandBytes + 2;
      break;
    default:
      break;
  }
  size_t modrmAt = length;
  bool rip = false;
  if (modrm) {
    const size_t used = ModRmLength(code, length, available, x64, prefixes.addressSize);
    if (used == 0) return result;
    rip = (used & kRipRelative) != 0;
    // Group 3's TEST alone has an immediate.
    if (opcode == 0xF6 || opcode == 0xF7) {
      const unsigned reg = (code[modrmAt] >> 3) & 7;
      if (reg < 2) immediate = opcode == 0xF6 ? 1 : operandBytes;
    }
    length += used & (kRipRelative - 1);
  }
  return Complete(length + immediate, available, branch, rip, modrmAt);
}

}  // namespace

namespace {

X86_HOT X86Instruction Decode(const unsigned char* code, size_t available, bool x64) {
  X86Instruction result;
  if (available > X86_INSTRUCTION_MAX) available = X86_INSTRUCTION_MAX;
  Prefixes prefixes;
  size_t at = 0;
  // Legacy prefixes, then (x64) REX directly before the opcode; a REX
  // followed by another prefix counts for nothing.
  uint8_t info = 0;
  for (;; ++at) {
    if (at >= available) return result;
    const unsigned byte = code[at];
    info = kTables.one[byte];
    if ((info & kPrefix) != 0) {
      prefixes.rexW = false;
    } else if (byte == 0x66) {
      prefixes.operandSize = true;
      prefixes.rexW = false;
    } else if (byte == 0x67) {
      prefixes.addressSize = true;
      prefixes.rexW = false;
    } else if (x64 && (byte & 0xF0) == 0x40) {
      prefixes.rexW = (byte & 8) != 0;
    } else {
      break;
    }
  }
  if (x64 && (info & kDropped) != 0) return result;
  if ((info & kSpecial) != 0) return DecodeSpecial(code, at, available, x64, prefixes);
  const unsigned opcode = code[at];
  size_t length = at + 1;
  size_t immediate = (info & kImm8) != 0 ? 1 : 0;
  if ((info & kImmZ) != 0) {
    immediate = prefixes.operandSize ? 2 : 4;
    if (opcode >= 0xB8 && opcode <= 0xBF && prefixes.rexW) immediate = 8;
  }
  bool rip = false;
  const size_t modrmAt = length;
  if ((info & kModRm) != 0) {
    const size_t used = ModRmLength(code, length, available, x64, prefixes.addressSize);
    if (used == 0) return result;
    rip = (used & kRipRelative) != 0;
    length += used & (kRipRelative - 1);
  }
  return Complete(length + immediate, available, false, rip, modrmAt);
}

}  // namespace

X86Instruction DecodeX86Instruction(const unsigned char* code, size_t available, bool x64) {
  return Decode(code, available, x64);
}

size_t WalkX86(const unsigned char* code, size_t at, size_t stop, size_t available, bool final,
               bool x64, X86OperandSite* sites, size_t capacity, size_t* count) {
  *count = 0;
  while (at < stop && *count < capacity) {
    size_t span = X86_INSTRUCTION_MAX;
    if (available - at < span) {
      if (!final) break;
      span = available - at;
    }
    const X86Instruction instruction = Decode(code + at, span, x64);
    if (instruction.length == 0) {
      ++at;
      continue;
    }
    if (instruction.operand != X86Operand::None) sites[(*count)++] = {at, instruction};
    at += instruction.length;
  }
  return at;
}
