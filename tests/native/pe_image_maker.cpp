#include "pe_image_maker.h"

#include <algorithm>
#include <map>

#include "codec_test_support.h"

namespace {

constexpr uint32_t kFileAlign = 0x200;
constexpr uint32_t kSectionAlign = 0x1000;
constexpr uint32_t kHeaders = 0x400;
constexpr uint32_t kStrings = 40;
constexpr uint32_t kVariables = 64;
constexpr uint32_t kZeroVariables = 48;
constexpr uint32_t kStringSize = 16;
// Identity of the inserted function: not one of the numbered ones. It calls
// them and holds fillers, no pointer.
constexpr uint32_t kInserted = 0xFFFF;

uint32_t Align(uint32_t value, uint32_t to) { return (value + to - 1) / to * to; }

void Put(Bytes& bytes, size_t at, uint64_t value, size_t width) {
  for (size_t k = 0; k < width; ++k) bytes[at + k] = static_cast<unsigned char>(value >> (8 * k));
}

enum class Step { Filler, Call, Data, ZeroData, String, Jump };

struct Instruction {
  Step step;
  uint32_t value;  // filler immediate, or the index of what it refers to
};

struct Function {
  uint32_t identity;
  std::vector<Instruction> body;
  uint32_t offset = 0;  // in the code section
  uint32_t size = 0;
};

uint32_t InstructionSize(const Instruction& instruction, bool x64) {
  switch (instruction.step) {
    case Step::Filler:
      return 5;  // mov eax, imm32
    case Step::Call:
      return 5;  // E8 rel32
    case Step::Data:
    case Step::ZeroData:
      return x64 ? 6 : 5;  // 8B 05 disp32 / A1 abs32
    case Step::String:
      return x64 ? 7 : 5;  // 48 8D 0D disp32 / 68 abs32
    case Step::Jump:
      return 6;  // 0F 84 rel32
  }
  return 0;
}

// A function's body depends on its identity alone, so the next build has the
// same bytes for it, wherever it lies.
Function MakeFunction(const ImageRecipe& recipe, uint32_t identity, uint32_t calls,
                      uint32_t extraFiller) {
  Function function;
  function.identity = identity;
  TestGenerator random(recipe.seed * 7919u + identity);
  const uint32_t count = 6 + random.Below(10);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t choice = random.Below(6);
    if (identity == kInserted && choice > 1) continue;
    switch (choice) {
      case 0:
        function.body.push_back({Step::Filler, random.Next()});
        break;
      case 1:
        function.body.push_back({Step::Call, random.Below(calls)});
        break;
      case 2:
        function.body.push_back({Step::Data, random.Below(kVariables)});
        break;
      case 3:
        function.body.push_back({Step::ZeroData, random.Below(kZeroVariables)});
        break;
      case 4:
        function.body.push_back({Step::String, random.Below(kStrings)});
        break;
      default:
        function.body.push_back({Step::Jump, 0});
        break;
    }
  }
  for (uint32_t i = 0; i < extraFiller; ++i) function.body.push_back({Step::Filler, 0x1000 + i});
  return function;
}

const uint32_t kPrologue86 = 3, kEpilogue86 = 2, kPrologue64 = 4, kEpilogue64 = 5;

enum SectionKind { kCode, kReadOnly, kData, kExceptions, kRelocations };

struct SectionPlan {
  const char* name;
  SectionKind kind;
  uint32_t rva = 0, virtualSize = 0, raw = 0, rawSize = 0, flags = 0;
};

}  // namespace

MadeImage MakeImage(const ImageRecipe& recipe) {
  const bool x64 = recipe.x64;
  const uint64_t base =
      recipe.imageBase != 0 ? recipe.imageBase : (x64 ? 0x180000000ull : 0x10000000u);
  const uint32_t pointer = x64 ? 8 : 4;
  // The functions, in the order of the code section.
  std::vector<Function> functions;
  for (uint32_t i = 0; i < recipe.functions; ++i) {
    if (i == 3 && recipe.insertedFunction != 0) {
      functions.push_back(
          MakeFunction(recipe, kInserted, recipe.functions, recipe.insertedFunction));
    }
    functions.push_back(
        MakeFunction(recipe, i, recipe.functions, i == 7 ? recipe.grownFunction : 0));
  }
  std::map<uint32_t, size_t> byIdentity;
  uint32_t codeSize = 0;
  for (size_t i = 0; i < functions.size(); ++i) {
    Function& function = functions[i];
    byIdentity[function.identity] = i;
    function.offset = codeSize;
    uint32_t size = x64 ? kPrologue64 + kEpilogue64 : kPrologue86 + kEpilogue86;
    for (const Instruction& instruction : function.body) size += InstructionSize(instruction, x64);
    function.size = size;
    codeSize = Align(codeSize + size, 16);
  }

  // Sections: code, read-only data (strings, the function table, unwind
  // data), data (its zero-filled tail in memory only), exception entries
  // (x64), relocations.
  const uint32_t unwindSize = x64 ? 8 * static_cast<uint32_t>(functions.size()) : 0;
  const uint32_t tableOffset = kStrings * kStringSize;
  const uint32_t unwindOffset = tableOffset + pointer * recipe.functions;
  const uint32_t readOnlySize = unwindOffset + unwindSize;
  const uint32_t dataRaw = recipe.dataGrowth + 4 * kVariables;
  const uint32_t dataVirtual = dataRaw + 4 * kZeroVariables;
  const uint32_t pdataSize = 12 * static_cast<uint32_t>(functions.size());
  std::vector<SectionPlan> sections = {{".text", kCode}, {".rdata", kReadOnly}, {".data", kData}};
  if (x64) sections.push_back({".pdata", kExceptions});
  if (recipe.relocations) sections.push_back({".reloc", kRelocations});
  const uint32_t sizes[] = {codeSize, readOnlySize, dataVirtual, x64 ? pdataSize : 0, 0};
  const uint32_t flags[] = {0x60000020u, 0x40000040u, 0xC0000040u, 0x40000040u, 0x42000040u};
  uint32_t rva = kSectionAlign, raw = kHeaders;
  for (size_t i = 0; i < sections.size(); ++i) {
    const SectionKind kind = sections[i].kind;
    sections[i].rva = rva;
    sections[i].virtualSize = sizes[kind];
    sections[i].rawSize = Align(kind == kData ? dataRaw : sizes[kind], kFileAlign);
    sections[i].raw = raw;
    sections[i].flags = flags[kind];
    rva = Align(rva + std::max<uint32_t>(sizes[kind], 1), kSectionAlign);
    raw += sections[i].rawSize;
  }
  const SectionPlan& text = sections[0];
  const SectionPlan& rdata = sections[1];
  const SectionPlan& data = sections[2];
  auto functionRva = [&](uint32_t identity) {
    return text.rva + functions[byIdentity.at(identity)].offset;
  };

  MadeImage image;
  image.bytes.assign(raw, 0);
  Bytes& bytes = image.bytes;
  std::vector<uint32_t> pointers;  // RVAs of the absolute pointers, for .reloc
  auto absolute = [&](const SectionPlan& section, uint32_t offset, uint32_t width,
                      uint32_t target) {
    const uint32_t at = section.raw + offset;
    Put(bytes, at, base + target, width);
    image.references.push_back(
        {at, width == 8 ? ReferenceKind::Absolute64 : ReferenceKind::Absolute32, target});
    pointers.push_back(section.rva + offset);
  };
  auto relative = [&](uint32_t offset, uint32_t nextOffset, uint32_t target) {
    const uint32_t at = text.raw + offset;
    Put(bytes, at, target - (text.rva + nextOffset), 4);
    image.references.push_back({at, ReferenceKind::Relative, target});
  };
  const uint32_t stringsRva = rdata.rva;
  const uint32_t variablesRva = data.rva + recipe.dataGrowth;
  const uint32_t zerosRva = data.rva + dataRaw;

  // Code.
  for (const Function& function : functions) {
    uint32_t at = function.offset;
    unsigned char* code = &bytes[text.raw];
    const uint32_t end = function.offset + function.size;
    const uint32_t epilogue = end - (x64 ? kEpilogue64 : kEpilogue86);
    if (x64) {
      const unsigned char prologue[] = {0x48, 0x83, 0xEC, 0x28};
      std::copy(prologue, prologue + 4, code + at);
    } else {
      const unsigned char prologue[] = {0x55, 0x8B, 0xEC};
      std::copy(prologue, prologue + 3, code + at);
    }
    at += x64 ? kPrologue64 : kPrologue86;
    for (const Instruction& instruction : function.body) {
      const uint32_t size = InstructionSize(instruction, x64);
      switch (instruction.step) {
        case Step::Filler:
          code[at] = 0xB8;
          Put(bytes, text.raw + at + 1, instruction.value, 4);
          break;
        case Step::Call: {
          const uint32_t callee = byIdentity.count(instruction.value) != 0 ? instruction.value : 0;
          code[at] = 0xE8;
          relative(at + 1, at + 5, functionRva(callee));
          break;
        }
        case Step::Data:
        case Step::ZeroData: {
          const uint32_t variable =
              (instruction.step == Step::Data ? variablesRva : zerosRva) + 4 * instruction.value;
          if (x64) {
            code[at] = 0x8B;
            code[at + 1] = 0x05;
            relative(at + 2, at + 6, variable);
          } else {
            code[at] = 0xA1;
            absolute(text, at + 1, 4, variable);
          }
          break;
        }
        case Step::String: {
          const uint32_t string = stringsRva + kStringSize * instruction.value;
          if (x64) {
            code[at] = 0x48;
            code[at + 1] = 0x8D;
            code[at + 2] = 0x0D;
            relative(at + 3, at + 7, string);
          } else {
            code[at] = 0x68;
            absolute(text, at + 1, 4, string);
          }
          break;
        }
        case Step::Jump:
          code[at] = 0x0F;
          code[at + 1] = 0x84;
          relative(at + 2, at + 6, text.rva + epilogue);
          break;
      }
      at += size;
    }
    if (x64) {
      const unsigned char tail[] = {0x48, 0x83, 0xC4, 0x28, 0xC3};
      std::copy(tail, tail + 5, code + at);
    } else {
      const unsigned char tail[] = {0x5D, 0xC3};
      std::copy(tail, tail + 2, code + at);
    }
    for (uint32_t pad = end; pad < Align(end, 16) && pad < codeSize; ++pad) code[pad] = 0xCC;
  }

  // Read-only data: strings, the function table, unwind data.
  for (uint32_t i = 0; i < kStrings; ++i) {
    for (uint32_t k = 0; k + 1 < kStringSize; ++k) {
      bytes[rdata.raw + i * kStringSize + k] = static_cast<unsigned char>('a' + (i * 7 + k) % 26);
    }
  }
  // The table lists the numbered functions: the inserted one brings no
  // pointer of its own.
  for (uint32_t i = 0; i < recipe.functions; ++i) {
    absolute(rdata, tableOffset + pointer * i, pointer, functionRva(i));
  }
  for (size_t i = 0; i < functions.size(); ++i) {
    // Unwind data as a compiler writes it: the prologue's size and the
    // stack the function takes, different from function to function.
    if (x64) {
      Put(bytes, rdata.raw + unwindOffset + 8 * i,
          0x0042000100040001ull | uint64_t(functions[i].size) << 24 |
              uint64_t(functions[i].identity & 0xFFF) << 48,
          8);
    }
  }
  // Data: the grown part, then the variables.
  for (uint32_t i = 0; i < recipe.dataGrowth; ++i)
    bytes[data.raw + i] = static_cast<unsigned char>(i);
  for (uint32_t i = 0; i < kVariables; ++i)
    Put(bytes, data.raw + recipe.dataGrowth + 4 * i, i * 3 + 1, 4);
  // Exception entries.
  uint32_t pdataRva = 0;
  if (x64) {
    const SectionPlan& pdata = sections[3];
    pdataRva = pdata.rva;
    for (size_t i = 0; i < functions.size(); ++i) {
      const uint32_t entry = pdata.raw + 12 * static_cast<uint32_t>(i);
      const uint32_t values[] = {text.rva + functions[i].offset,
                                 text.rva + functions[i].offset + functions[i].size,
                                 rdata.rva + unwindOffset + 8 * static_cast<uint32_t>(i)};
      for (int k = 0; k < 3; ++k) {
        Put(bytes, entry + 4 * k, values[k], 4);
        image.references.push_back({entry + 4u * k, ReferenceKind::Rva, values[k]});
      }
    }
  }
  // Relocations: one block per page, padded to four bytes.
  uint32_t relocationRva = 0, relocationSize = 0;
  if (recipe.relocations) {
    SectionPlan& reloc = sections.back();
    std::sort(pointers.begin(), pointers.end());
    Bytes table;
    for (size_t first = 0; first < pointers.size();) {
      const uint32_t page = pointers[first] & ~0xFFFu;
      size_t end = first;
      while (end < pointers.size() && (pointers[end] & ~0xFFFu) == page) ++end;
      const uint32_t count = static_cast<uint32_t>(end - first);
      const uint32_t padded = count + (count & 1);
      const size_t at = table.size();
      table.resize(at + 8 + 2 * padded, 0);
      Put(table, at, page, 4);
      Put(table, at + 4, 8 + 2 * padded, 4);
      for (uint32_t i = 0; i < count; ++i) {
        Put(table, at + 8 + 2 * i, (x64 ? 0xA000u : 0x3000u) | (pointers[first + i] & 0xFFF), 2);
      }
      first = end;
    }
    reloc.virtualSize = static_cast<uint32_t>(table.size());
    reloc.rawSize = Align(reloc.virtualSize, kFileAlign);
    bytes.resize(reloc.raw + reloc.rawSize, 0);
    std::copy(table.begin(), table.end(), bytes.begin() + reloc.raw);
    relocationRva = reloc.rva;
    relocationSize = reloc.virtualSize;
    image.relocationOffset = reloc.raw;
    image.relocationSize = relocationSize;
  }
  const SectionPlan& last = sections.back();
  const uint32_t imageSize =
      Align(last.rva + std::max<uint32_t>(last.virtualSize, 1), kSectionAlign);

  // Headers.
  bytes[0] = 'M';
  bytes[1] = 'Z';
  Put(bytes, 0x3C, 0x80, 4);
  const uint32_t pe = 0x80;
  Put(bytes, pe, 0x00004550, 4);
  Put(bytes, pe + 4, x64 ? 0x8664 : 0x14C, 2);
  Put(bytes, pe + 6, sections.size(), 2);
  const uint32_t optionalSize = x64 ? 240 : 224;
  Put(bytes, pe + 20, optionalSize, 2);
  Put(bytes, pe + 22, 0x2102, 2);  // executable, 32-bit words, DLL
  const uint32_t optional = pe + 24;
  Put(bytes, optional, x64 ? 0x20B : 0x10B, 2);
  Put(bytes, optional + 16, text.rva, 4);  // entry point
  if (x64) {
    Put(bytes, optional + 24, base, 8);
  } else {
    Put(bytes, optional + 28, base, 4);
  }
  Put(bytes, optional + 32, kSectionAlign, 4);
  Put(bytes, optional + 36, kFileAlign, 4);
  Put(bytes, optional + 56, imageSize, 4);
  Put(bytes, optional + 60, kHeaders, 4);
  const uint32_t directories = optional + (x64 ? 112 : 96);
  Put(bytes, directories - 4, 16, 4);
  if (x64) {
    Put(bytes, directories + 8 * 3, pdataRva, 4);
    Put(bytes, directories + 8 * 3 + 4, pdataSize, 4);
  }
  Put(bytes, directories + 8 * 5, relocationRva, 4);
  Put(bytes, directories + 8 * 5 + 4, relocationSize, 4);
  const uint32_t table = optional + optionalSize;
  for (size_t i = 0; i < sections.size(); ++i) {
    const uint32_t header = table + 40 * static_cast<uint32_t>(i);
    for (size_t k = 0; sections[i].name[k] != 0; ++k) bytes[header + k] = sections[i].name[k];
    Put(bytes, header + 8, sections[i].virtualSize, 4);
    Put(bytes, header + 12, sections[i].rva, 4);
    Put(bytes, header + 16, sections[i].rawSize, 4);
    Put(bytes, header + 20, sections[i].raw, 4);
    Put(bytes, header + 36, sections[i].flags, 4);
  }
  // The relocation table lists the pointers; without it they are plain
  // numbers to the finder.
  if (!recipe.relocations) {
    image.references.erase(std::remove_if(image.references.begin(), image.references.end(),
                                          [](const MadeReference& r) {
                                            return r.kind == ReferenceKind::Absolute32 ||
                                                   r.kind == ReferenceKind::Absolute64;
                                          }),
                           image.references.end());
  }
  std::sort(image.references.begin(), image.references.end(),
            [](const MadeReference& a, const MadeReference& b) { return a.location < b.location; });
  return image;
}
