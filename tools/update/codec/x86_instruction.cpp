#include "update/codec/x86_instruction.h"

#include <algorithm>

#include "update/base/little_endian.h"

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

namespace {

// The common instructions of compiled code (no prefix but REX or, in 64-bit
// mode, a two-byte VEX; one- and two-byte opcodes) decoded without a branch
// that depends on the bytes but the escape of 32-bit code (guessed right so
// often that a look-up or arithmetic in its place measured slower): an
// instruction walk spends its time on branches the processor mispredicts,
// since every instruction differs from the one before. Per opcode of the
// one-byte map (0-255), the two-byte map (256-511) and that map after VEX
// (512-767) one entry says what follows it. Off that path, the same behind
// one legacy prefix, and the instructions after a VEX or EVEX prefix (a
// branch the processor guesses wrong, but no general decoding); anything
// else goes to Decode, whose answer the fast decoder always equals.
enum : uint16_t {
  kFastImmediate = 0x07,  // the immediate's bytes: 0, 1 or 4
  kFastModRm = 0x08,
  kFastWide = 0x10,         // B8-BF: with REX.W (x64) an 8-byte immediate instead
  kFastBranch = 0x20,       // the immediate is a branch's displacement
  kFastTest = 0x40,         // F6 F7: an immediate only for TEST (reg 0, 1) ...
  kFastTestShift = 8,       // ... of this many bytes
  kFastGeneral = 0x8000,    // prefixes, extended encodings, odd operands: Decode
  kFastGeneral64 = 0x4000,  // the same in 64-bit mode only (REX, opcodes it dropped)
  kFastSized = 0x2000,      // after 66 the immediate has 2 bytes, not 4
  kFastNot66 = 0x1000,      // after 66 otherwise changed: Decode
};

struct FastTable {
  uint16_t opcodes[768];
};

constexpr FastTable MakeFastTable() {
  FastTable table = {};
  for (unsigned op = 0; op < 256; ++op) {
    const uint8_t info = kTables.one[op];
    uint16_t fast = (info & kModRm) != 0 ? kFastModRm : 0;
    fast |= (info & kImmZ) != 0 ? 4 : (info & kImm8) != 0 ? 1 : 0;
    if (op >= 0xB8 && op <= 0xBF) fast |= kFastWide;
    if ((op & 0xF0) == 0x40 || (info & kDropped) != 0) fast |= kFastGeneral64;
    if ((info & kPrefix) != 0 || op == 0x66 || op == 0x67 || (info & kSpecial) != 0) {
      fast = kFastGeneral;
    }
    if ((info & kImmZ) != 0) fast |= op >= 0xB8 && op <= 0xBF ? kFastNot66 : kFastSized;
    if (op == 0xE8 || op == 0xE9) fast = 4 | kFastBranch | kFastNot66;
    if (op == 0xF6) fast = kFastModRm | kFastTest | 1 << kFastTestShift;
    if (op == 0xF7) fast = kFastModRm | kFastTest | 4 << kFastTestShift | kFastNot66;
    table.opcodes[op] = fast;
  }
  for (unsigned op = 0; op < 256; ++op) {
    const uint8_t info = kTables.two[op];
    uint16_t fast = (info & kModRm) != 0 ? kFastModRm : 0;
    fast |= (info & kImm8) != 0 ? 1 : 0;
    if ((info & kBranch) != 0) fast = 4 | kFastBranch | kFastNot66;
    if ((info & kInvalid) != 0 || op == 0x38 || op == 0x3A) fast = kFastGeneral;
    table.opcodes[256 + op] = fast;
  }
  // The 0F map after a two-byte VEX prefix (C5), as DecodeExtended has it.
  for (unsigned op = 0; op < 256; ++op) {
    uint16_t fast = op == 0x77 ? 0 : kFastModRm;
    if ((op >= 0x70 && op <= 0x73) || op == 0xC2 || (op >= 0xC4 && op <= 0xC6)) fast |= 1;
    table.opcodes[512 + op] = fast;
  }
  return table;
}

constexpr FastTable kFast = MakeFastTable();

// Per map, ModRM byte and opcode (the two bytes after the escape as one
// load gives them), what the fast decoder needs in one byte: the bytes after
// the opcode (bits 0-3: ModRM, SIB, displacement, immediate, TEST's
// immediate included), a SIB whose base may add a displacement (bit 4), a
// branch (bit 5), a RIP-relative operand in 64-bit mode (bit 6), Decode's
// case (bit 7): one look-up where the opcode's and the ModRM's tables and
// the arithmetic joining them took a dozen instructions. 192 KiB, made
// once, on 64-bit hosts only.
enum : uint8_t {
  kEntryBytes = 0x0F,
  kEntrySibBase = 0x10,
  kEntryBranch = 0x20,
  kEntryRip = 0x40,
  kEntryGeneral = 0x80,
};
// Shifted down, the operand bits are the operand (a branch takes no ModRM,
// so an entry never has both): two instructions on the walk's every step.
constexpr unsigned kEntryOperandShift = 5;
static_assert(kEntryBranch >> kEntryOperandShift == unsigned(X86Operand::Branch) &&
                  kEntryRip >> kEntryOperandShift == unsigned(X86Operand::RipRelative),
              "the entry's operand bits are the operand");

struct EntryTable {
  // Made on first use (the 32-bit build never uses it), once for both modes.
  static const EntryTable& Get() {
    static const EntryTable table;
    return table;
  }

  uint8_t entries[3 << 16];
  // Every entry is its opcode's part plus, where the opcode takes a ModRM,
  // the ModRM's: the rows are byte-wide sums the compiler makes vector code
  // of, for the table is made again in every process and a loop of
  // decisions per entry cost a small file's decoding a twentieth.
  EntryTable() {
    uint8_t opcode[768], takesModRm[768], testBytes[768];
    for (unsigned i = 0; i < 768; ++i) {
      const unsigned fast = kFast.opcodes[i];
      const bool general = (fast & kFastGeneral) != 0;
      opcode[i] = static_cast<uint8_t>(
          general ? unsigned(kEntryGeneral)
                  : (fast & kFastImmediate) | ((fast & kFastBranch) != 0 ? kEntryBranch : 0));
      takesModRm[i] = !general && (fast & kFastModRm) != 0 ? 0xFF : 0;
      testBytes[i] = static_cast<uint8_t>(
          !general && (fast & kFastTest) != 0 ? (fast >> kFastTestShift) & 0x0F : 0);
    }
    for (unsigned modrm = 0; modrm < 256; ++modrm) {
      const unsigned info = kTables.modrm[modrm];
      // The ModRM, its SIB and displacement (the byte counts stay below 16,
      // so the sums never reach the flags).
      unsigned part = 1 + (info & 0x0F) + ((info >> 4) & 1);
      if ((info & 0x10) != 0 && (modrm >> 6) == 0) part |= kEntrySibBase;
      if ((info & 0x20) != 0) part |= kEntryRip;
      const uint8_t modrmPart = static_cast<uint8_t>(part);
      // TEST's immediate (F6 and F7 with reg 0 or 1).
      const uint8_t test = ((modrm >> 3) & 7) < 2 ? 0xFF : 0;
      for (unsigned map = 0; map < 3; ++map) {
        uint8_t* row = entries + (map << 16 | modrm << 8);
        const unsigned first = map << 8;
        for (unsigned op = 0; op < 256; ++op) {
          row[op] = static_cast<uint8_t>(opcode[first + op] + (takesModRm[first + op] & modrmPart) +
                                         (testBytes[first + op] & test));
        }
      }
    }
  }
};

// The common instruction whose opcode's last byte lies at `at`, from its
// entry and `bytes` (opcode, ModRM and SIB), `before` being the bytes the
// entry does not count: those up to and including the opcode, and REX.W's
// wider immediate.
template <bool kX64>
X86_HOT X86Instruction FromEntry(unsigned entry, uint32_t bytes, unsigned at, unsigned before) {
  const unsigned sibBase = (entry >> 4) & (((bytes >> 16) & 7) == 5 ? 1 : 0);
  X86Instruction result;
  result.length = before + (entry & kEntryBytes) + 4 * sibBase;
  // RIP-relative operands exist in 64-bit mode only.
  const unsigned operand = (entry >> kEntryOperandShift) & (kX64 ? 3 : 1);
  result.operand = static_cast<X86Operand>(operand);
  // A branch's displacement follows its opcode (it has no ModRM), a
  // RIP-relative one the ModRM.
  result.operandOffset = static_cast<uint8_t>(at + 1 + (operand >> 1));
  return result;
}

// The instruction at `code`, of which X86_INSTRUCTION_MAX bytes are
// readable, after an operand-size prefix (66) when `operandSize`; length 0
// when it is Decode's.
template <bool kX64>
X86_HOT X86Instruction DecodeCommon(const unsigned char* code, const EntryTable& table,
                                    unsigned operandSize) {
  const unsigned first = code[0];
  const unsigned rex = kX64 && (first & 0xF0) == 0x40 ? 1 : 0;
  // In 64-bit mode C5 always starts a two-byte VEX prefix (in 32-bit mode
  // only before a register ModRM: Decode settles that).
  const unsigned vex = kX64 && first == 0xC5 ? 1 : 0;
  const unsigned escape = code[rex] == 0x0F ? 1 : 0;
  const unsigned at = rex + escape + 2 * vex;  // the opcode's last byte
  // Opcode, ModRM and SIB in one load.
  const uint32_t bytes = ReadLe32(code + at);
  const unsigned map = escape + 2 * vex;
  const unsigned entry = table.entries[map << 16 | (bytes & 0xFFFF)];
  unsigned general = entry & kEntryGeneral;
  unsigned wide = 0, shrink = 0;
  if (kX64 || operandSize != 0) {
    const unsigned fast = kFast.opcodes[map << 8 | (bytes & 0xFF)];
    general |= operandSize & (fast >> 12);  // kFastNot66
    shrink = operandSize & (fast >> 13);    // kFastSized
    if (kX64) {
      general |= fast & kFastGeneral64;
      wide = (fast >> 4) & rex & (first >> 3);
    }
  }
  if (general != 0) return X86Instruction();
  X86Instruction result = FromEntry<kX64>(entry, bytes, at, at + 1 + 4 * wide);
  result.length -= 2 * shrink;
  return result;
}

// What the bytes before the opcode's last one say, looked up by the first
// byte and, after REX, by the second: where the opcode's last byte lies
// (0-2); the length up to and including it, with the 4 more bytes of
// immediate that REX.W gives B8-BF (the opcode's entry counts the rest);
// its map, shifted where the entry's index wants it; and whether Decode
// must take the instruction. Two loads and a choice where a dozen
// comparisons and shifts on each byte were.
enum : uint32_t {
  kHeadAt = 0x03,
  kHeadLengthShift = 2,  // bits 2-4
  kHeadLengthBits = 0x07,
  kHeadGeneral = kEntryGeneral,
  kHeadRex = 0x100,  // x64: the second byte's look-up holds
  kHeadMapShift = 16,
};

struct HeadTable {
  uint32_t first64[256];
  uint32_t afterRex[512];  // by REX.W, then the byte after REX
};

constexpr uint32_t MakeHead(unsigned at, unsigned map, unsigned extra, bool general) {
  return at | (at + 1 + extra) << kHeadLengthShift | map << kHeadMapShift |
         (general ? uint32_t(kHeadGeneral) : 0u);
}

constexpr HeadTable MakeHeadTable() {
  HeadTable table = {};
  for (unsigned byte = 0; byte < 256; ++byte) {
    const bool escape = byte == 0x0F;
    const bool general64 = (kFast.opcodes[byte] & kFastGeneral64) != 0;
    uint32_t head = MakeHead(escape ? 1 : 0, escape ? 1 : 0, 0, !escape && general64);
    if (byte == 0xC5) head = MakeHead(2, 2, 0, false);  // a two-byte VEX prefix
    if ((byte & 0xF0) == 0x40) head = kHeadRex;
    table.first64[byte] = head;
    for (unsigned w = 0; w < 2; ++w) {
      const bool wide = w != 0 && (kFast.opcodes[byte] & kFastWide) != 0;
      table.afterRex[w << 8 | byte] =
          escape ? MakeHead(2, 1, 0, false) : MakeHead(1, 0, wide ? 4 : 0, general64);
    }
  }
  return table;
}

constexpr HeadTable kHead = MakeHeadTable();

// The instruction at `code`, of which X86_INSTRUCTION_MAX bytes are
// readable, when it is a common one (DecodeCommon without a prefix, the
// same answer); `otherwise()` when it is not. A call, not a length of 0 to
// test: the walk would test the length twice on every step.
template <bool kX64, typename Otherwise>
X86_HOT X86Instruction DecodeHeaded(const unsigned char* code, const EntryTable& table,
                                    Otherwise otherwise) {
  const uint64_t word = ReadLe64(code);
  uint32_t head;
  if constexpr (kX64) {
    const uint32_t first = kHead.first64[word & 0xFF];
    const uint32_t afterRex = kHead.afterRex[(word & 8) << 5 | ((word >> 8) & 0xFF)];
    head = (first & kHeadRex) != 0 ? afterRex : first;
  } else {
    // Only the escape: a comparison is quicker than a look-up.
    head = (word & 0xFF) == 0x0F ? MakeHead(1, 1, 0, false) : MakeHead(0, 0, 0, false);
  }
  const unsigned at = head & kHeadAt;
  // Opcode, ModRM and SIB.
  const uint32_t bytes = static_cast<uint32_t>(word >> (8 * at));
  const unsigned entry = table.entries[(head >> kHeadMapShift) << 16 | (bytes & 0xFFFF)];
  if (((entry | head) & kEntryGeneral) != 0) return otherwise();
  return FromEntry<kX64>(entry, bytes, at, (head >> kHeadLengthShift) & kHeadLengthBits);
}

// The one legacy prefix DecodePrefixed takes: 1 for those that change no
// length (segments, LOCK, REP and the mandatory prefixes of SSE), 3 for 66.
struct FastPrefixTable {
  uint8_t kind[256];
};

constexpr FastPrefixTable MakeFastPrefixTable() {
  FastPrefixTable table = {};
  for (unsigned byte = 0; byte < 256; ++byte) {
    if ((kTables.one[byte] & kPrefix) != 0) table.kind[byte] = 1;
  }
  table.kind[0x66] = 3;
  return table;
}

constexpr FastPrefixTable kFastPrefix = MakeFastPrefixTable();

// An instruction after a VEX (C5, C4) or EVEX (62) prefix with nothing
// before it, as DecodeExtended decodes it, through the entries of the VEX 0F
// map: the other maps take a ModRM each, and those of 0F 3A an immediate
// byte as well, so an opcode of the 0F map that does the same stands in for
// theirs. Length 0 when it is none of those, or a map Decode must take.
// Vector code is full of them (a ninth of the instructions of a library
// built for AVX-512, a thirtieth of a 32-bit one built for AVX, where C5 is
// VEX only before a register ModRM).
template <bool kX64>
X86Instruction DecodeVector(const unsigned char* code, const EntryTable& table) {
  const unsigned first = code[0], next = code[1];
  if ((first != 0xC5 && first != 0xC4 && first != 0x62) || (!kX64 && next < 0xC0)) return {};
  const unsigned at = first == 0xC5 ? 2 : first == 0xC4 ? 3 : 4;
  const unsigned map = first == 0xC5 ? 1 : first == 0xC4 ? next & 0x1F : next & 7;
  const uint32_t bytes = ReadLe32(code + at);
  unsigned opcode = 0;
  switch (map) {
    case 1:  // 0F
      opcode = bytes & 0xFF;
      break;
    case 2:  // 0F 38, and the maps of EVEX's half-precision arithmetic
    case 5:
    case 6:
      opcode = 0x10;  // a ModRM
      break;
    case 3:           // 0F 3A
      opcode = 0xC6;  // a ModRM and an immediate byte
      break;
    default:
      return {};
  }
  const unsigned entry = table.entries[2 << 16 | (bytes & 0xFF00) | opcode];
  return FromEntry<kX64>(entry, bytes, at, at + 1);
}

// What the fast decoder left: an instruction behind one legacy prefix (the
// SSE code of 32-bit programs is full of them) decoded as the fast one
// decodes the rest, anything else by Decode. Out of line: the walk branches
// here seldom, and its loop stays small.
template <bool kX64>
X86Instruction DecodePrefixed(const unsigned char* code, const EntryTable& table) {
  const unsigned prefix = kFastPrefix.kind[code[0]];
  if (prefix != 0) {
    X86Instruction result = DecodeCommon<kX64>(code + 1, table, prefix >> 1);
    if (result.length != 0) {
      result.length += 1;
      result.operandOffset = static_cast<uint8_t>(result.operandOffset + 1);
      return result;
    }
  }
  if (const X86Instruction vector = DecodeVector<kX64>(code, table); vector.length != 0) {
    return vector;
  }
  X86Instruction result = DecodeX86Instruction(code, X86_INSTRUCTION_MAX, kX64);
  // The walk steps over a byte that starts no instruction.
  if (result.length == 0) result.length = 1;
  return result;
}

// The instruction at `code`, of which X86_INSTRUCTION_MAX bytes are
// readable; a byte that starts none is one byte long here, so that the
// walk's step needs no test of the length.
template <bool kX64>
X86_HOT X86Instruction DecodeFast(const unsigned char* code, const EntryTable& table) {
  return DecodeHeaded<kX64>(code, table,
                            [code, &table] { return DecodePrefixed<kX64>(code, table); });
}

// One walk through a stretch of the buffer.
struct Lane {
  size_t start;
  size_t end;  // walked until an instruction starts at or past it
  size_t position;
  X86OperandSite* sites;
  X86OperandSite* next;  // where its next site goes
  uint64_t visited;      // which of the first 64 positions from `start` it walked
};

// Lanes pay where registers are many (x86-64 has sixteen): four chains of
// decoding side by side. A 32-bit build has eight; there one lane, with the
// decoder whose branches the processor guesses, is as fast and smaller.
constexpr size_t kLanes = sizeof(void*) >= 8 ? 4 : 1;
// Shorter stretches are walked in one lane.
constexpr size_t kLaneLeast = 1024;
constexpr size_t kVisitedSpan = 64;

// A lane walks its stretch, then on until it meets the next lane.
size_t LaneSitesMax(size_t bytes) {
  return (bytes + kVisitedSpan + X86_INSTRUCTION_MAX + 4) / 5 + 1;
}

// One step where X86_INSTRUCTION_MAX bytes are readable: a pointer the
// relocation table lists is stepped over, an instruction decoded, a byte
// that starts none passed.
template <bool kX64>
X86_HOT void Step(const unsigned char* code, const uint8_t* pointers, const EntryTable* table,
                  Lane* lane) {
  const size_t position = lane->position;
  const unsigned pointer = pointers[position];
  X86Instruction instruction;
  size_t decoded;
  if constexpr (kLanes > 1) {
    // Never 0: a byte that starts no instruction is one byte long here.
    instruction = DecodeFast<kX64>(code + position, *table);
    decoded = instruction.length;
  } else {
    instruction = Decode(code + position, X86_INSTRUCTION_MAX, kX64);
    decoded = instruction.length != 0 ? instruction.length : 1;
  }
  // Stored always, kept only when it is a site: no branch to mispredict.
  *lane->next = {position, instruction};
  lane->next += pointer == 0 && instruction.operand != X86Operand::None ? 1 : 0;
  lane->position = position + (pointer != 0 ? pointer : decoded);
}

// Four lanes step together while every one is short of its end (the last
// also of `roomy`, the last start with X86_INSTRUCTION_MAX bytes after it).
// A step moves a lane X86_INSTRUCTION_MAX bytes at most (a pointer it steps
// over, 8), so for a fifteenth of the room the nearest lane has left every
// lane stays short of its end: those rounds test nothing but their count,
// and the ends leave the registers to the lanes' state.
template <bool kX64>
X86_HOT void StepTogether(const unsigned char* code, const uint8_t* pointers,
                          const EntryTable* table, size_t roomy, Lane* lanes) {
  if constexpr (kLanes == 4) {
    Lane a = lanes[0], b = lanes[1], c = lanes[2], d = lanes[3];
    const size_t lastEnd = d.end < roomy + 1 ? d.end : roomy + 1;
    const auto left = [](size_t position, size_t end) {
      return position < end ? end - position : 0;
    };
    for (;;) {
      size_t room = left(a.position, a.end);
      room = std::min(room, left(b.position, b.end));
      room = std::min(room, left(c.position, c.end));
      room = std::min(room, left(d.position, lastEnd));
      size_t rounds = room / X86_INSTRUCTION_MAX;
      if (rounds == 0) break;
      do {
        Step<kX64>(code, pointers, table, &a);
        Step<kX64>(code, pointers, table, &b);
        Step<kX64>(code, pointers, table, &c);
        Step<kX64>(code, pointers, table, &d);
      } while (--rounds != 0);
    }
    lanes[0] = a;
    lanes[1] = b;
    lanes[2] = c;
    lanes[3] = d;
  }
}

// Walks `lane` to its end one step at a time; false when it stopped short
// for want of bytes (not `final`).
template <bool kX64>
bool Finish(const unsigned char* code, size_t available, bool final, const uint8_t* pointers,
            const EntryTable* table, Lane* lane) {
  while (lane->position < lane->end) {
    const size_t position = lane->position;
    if (available - position >= X86_INSTRUCTION_MAX) {
      Step<kX64>(code, pointers, table, lane);
      continue;
    }
    if (!final) return false;
    const unsigned pointer = pointers[position];
    const X86Instruction instruction =
        DecodeX86Instruction(code + position, available - position, kX64);
    if (pointer == 0 && instruction.operand != X86Operand::None) {
      *lane->next++ = {position, instruction};
    }
    lane->position = position + (pointer != 0              ? pointer
                                 : instruction.length != 0 ? instruction.length
                                                           : 1);
  }
  return true;
}

template <bool kX64>
size_t Walk(const unsigned char* code, size_t at, size_t stop, size_t available, bool final,
            const uint8_t* pointers, X86OperandSite* sites, size_t* count) {
  *count = 0;
  if (at >= stop) return at;
  // Four lanes walk four stretches side by side, each from a guess of an
  // instruction's start (x86 code falls into step within a few
  // instructions): four independent chains of decoding keep the processor
  // busy where one would wait for each instruction's length. The lane
  // before walks on past its end until it reaches a position this lane
  // walked (within its first 64 bytes); from there this lane's walk holds.
  // If they never meet, the rest is walked again from there, one lane.
  const size_t lanes = kLanes > 1 && (stop - at) / kLaneLeast >= kLanes ? kLanes : 1;
  const size_t stretch = (stop - at) / lanes;
  Lane lane[kLanes];
  X86OperandSite* free = sites;
  for (size_t i = 0; i < lanes; ++i) {
    lane[i].start = at + i * stretch;
    lane[i].end = i + 1 == lanes ? stop : at + (i + 1) * stretch;
    lane[i].position = lane[i].start;
    lane[i].sites = free;
    lane[i].next = free;
    lane[i].visited = 0;
    free += LaneSitesMax(lane[i].end - lane[i].start);
  }
  const EntryTable* table = nullptr;
  if constexpr (kLanes > 1) table = &EntryTable::Get();
  if (kLanes > 1 && lanes == kLanes) {
    // What the lanes after the first walk of their first bytes, to meet
    // the lane before them by.
    for (size_t i = 1; i < lanes; ++i) {
      while (lane[i].position - lane[i].start < kVisitedSpan) {
        lane[i].visited |= uint64_t(1) << (lane[i].position - lane[i].start);
        Step<kX64>(code, pointers, table, &lane[i]);
      }
    }
    const size_t roomy = available - X86_INSTRUCTION_MAX;  // stop >= 4 KiB: no wrap
    StepTogether<kX64>(code, pointers, table, roomy, lane);
    // Then side by side while they last; a lane that ends (or the last,
    // short of bytes) drops out: whether a lane takes its step is a branch
    // that seldom changes.
    for (;;) {
      size_t walking = 0;
      for (size_t i = 0; i < kLanes; ++i) {
        if (lane[i].position >= lane[i].end || (i + 1 == kLanes && lane[i].position > roomy)) {
          continue;
        }
        Step<kX64>(code, pointers, table, &lane[i]);
        ++walking;
      }
      if (walking == 0) break;
    }
  }
  size_t kept = 0;
  for (size_t i = 0; i < lanes; ++i) {
    Lane& current = lane[i];
    if (i > 0) {
      // The lane before walks on until it meets a position this lane
      // walked; from there both walks are one.
      Lane& before = lane[i - 1];
      while (before.position - current.start < kVisitedSpan &&
             ((current.visited >> (before.position - current.start)) & 1) == 0) {
        Step<kX64>(code, pointers, table, &before);
      }
      for (const X86OperandSite* site = before.sites; site != before.next; ++site) {
        sites[kept++] = *site;
      }
      if (before.position - current.start >= kVisitedSpan) {
        // They never met: the rest is walked again from there, one lane.
        Lane rest = {before.position, stop, before.position, sites + kept, sites + kept, 0};
        Finish<kX64>(code, available, final, pointers, table, &rest);
        *count = kept + static_cast<size_t>(rest.next - rest.sites);
        return rest.position;
      }
      // This lane's sites before the meeting point are the lane before's.
      while (current.sites != current.next && current.sites->start < before.position) {
        ++current.sites;
      }
    }
    if (!Finish<kX64>(code, available, final, pointers, table, &current) || i + 1 == lanes) {
      for (const X86OperandSite* site = current.sites; site != current.next; ++site) {
        sites[kept++] = *site;
      }
      *count = kept;
      return current.position;
    }
  }
  return stop;  // not reached: the last lane returns
}

}  // namespace

size_t X86WalkSitesMax(size_t bytes) {
  // Each lane's own, and room for walking the rest again in one.
  return kLanes > 1 ? kLanes * LaneSitesMax(bytes / kLanes + kLanes) + LaneSitesMax(bytes)
                    : LaneSitesMax(bytes);
}

size_t WalkX86(const unsigned char* code, size_t at, size_t stop, size_t available, bool final,
               bool x64, const uint8_t* pointers, X86OperandSite* sites, size_t* count) {
  return x64 ? Walk<true>(code, at, stop, available, final, pointers, sites, count)
             : Walk<false>(code, at, stop, available, final, pointers, sites, count);
}
