// The reference-aware delta (filter 2): instruction lengths, the references
// found in hand-made x86 and x64 images, the delta of a rebuilt image in
// which every reference whose target only moved costs nothing and the
// relocation table is rebuilt exactly, odd and broken images, and the
// decoder's refusal of every malformed field of the preamble.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "codec_test_support.h"
#include "mkpatch/codec/delta_writer.h"
#include "mkpatch/codec/reference_streams.h"
#include "mkpatch/codec/varint_write.h"
#include "pe_builder.h"
#include "pe_image_maker.h"
#include "update/codec/delta_format.h"
#include "update/codec/pe_reference_model.h"
#include "update/codec/pe_references.h"
#include "update/codec/relocation_table.h"
#include "update/codec/x86_instruction.h"

namespace {

// --- Instruction lengths ----------------------------------------------------

struct Case {
  Bytes code;
  bool x64;
  int length;
  X86Operand operand;
  int operandOffset;
};

TEST(X86Instruction, LengthsAndRelativeOperands) {
  const X86Operand none = X86Operand::None, branch = X86Operand::Branch,
                   rip = X86Operand::RipRelative;
  const std::vector<Case> cases = {
      {{0x90}, false, 1, none, 0},
      {{0xE8, 1, 2, 3, 4}, false, 5, branch, 1},
      {{0x66, 0xE8, 1, 2}, false, 4, none, 0},  // a 16-bit call: no reference
      {{0x0F, 0x84, 1, 2, 3, 4}, false, 6, branch, 2},
      {{0xEB, 0x10}, false, 2, none, 0},
      {{0xA1, 1, 2, 3, 4}, false, 5, none, 0},  // absolute address: the relocations say
      {{0x67, 0xA1, 1, 2}, false, 4, none, 0},
      {{0x8B, 0x05, 1, 2, 3, 4}, false, 6, none, 0},  // [disp32] is absolute in x86
      {{0x8B, 0x44, 0x24, 0x08}, false, 4, none, 0},
      {{0x8B, 0x04, 0x25, 1, 2, 3, 4}, false, 7, none, 0},  // SIB without a base
      {{0x67, 0x8B, 0x46, 0x10}, false, 4, none, 0},        // 16-bit addressing
      {{0xF7, 0xC0, 1, 2, 3, 4}, false, 6, none, 0},        // test eax, imm32
      {{0xF7, 0xD0}, false, 2, none, 0},                    // not eax
      {{0x66, 0xF7, 0xC0, 1, 2}, false, 5, none, 0},
      {{0xC8, 0x10, 0x00, 0x01}, false, 4, none, 0},
      {{0x62, 0x05, 1, 2, 3, 4}, false, 6, none, 0},  // BOUND, not EVEX, in x86
      {{0xC5, 0xF8, 0x77}, false, 3, none, 0},        // vzeroupper
      {{0x0F, 0x3A, 0x0F, 0xC1, 0x08}, false, 5, none, 0},
      {{0x0F, 0x38, 0x00, 0xC1}, false, 4, none, 0},
      {{0x0F, 0x0B}, false, 2, none, 0},
      {{0x0F, 0xFF}, false, 0, none, 0},  // never completed: the ModRM is missing
      {{0xE8, 0x00}, false, 0, none, 0},  // cut short
      {{0x48, 0x8D, 0x0D, 1, 2, 3, 4}, true, 7, rip, 3},
      {{0x48, 0xB8, 1, 2, 3, 4, 5, 6, 7, 8}, true, 10, none, 0},
      {{0xB8, 1, 2, 3, 4}, true, 5, none, 0},
      {{0xC5, 0xFC, 0x10, 0x05, 1, 2, 3, 4}, true, 8, rip, 4},
      {{0xC4, 0xE2, 0x7D, 0x18, 0x05, 1, 2, 3, 4}, true, 9, rip, 5},
      {{0x62, 0xF1, 0x7C, 0x48, 0x10, 0x05, 1, 2, 3, 4}, true, 10, rip, 6},
      {{0x80, 0x3D, 1, 2, 3, 4, 0x7F}, true, 7, rip, 2},  // cmp byte [rip], imm8
      {{0xFF, 0x15, 1, 2, 3, 4}, true, 6, rip, 2},
      {{0x66, 0x0F, 0x3A, 0x16, 0x05, 1, 2, 3, 4, 9}, true, 10, rip, 5},
      {{0xE9, 1, 2, 3, 4}, true, 5, branch, 1},
      {{0x66, 0xE9, 1, 2, 3, 4}, true, 6, none, 0},
      {{0x0F, 0x85, 1, 2, 3, 4}, true, 6, branch, 2},
      {{0xA1, 1, 2, 3, 4, 5, 6, 7, 8}, true, 9, none, 0},
      {{0x67, 0x8B, 0x05, 1, 2, 3, 4}, true, 7, none, 0},  // EIP-relative: left alone
      {{0x06}, true, 0, none, 0},                          // gone in 64-bit mode
      {{0x41, 0xFF, 0xD0}, true, 3, none, 0},
  };
  for (const Case& c : cases) {
    const X86Instruction found = DecodeX86Instruction(c.code.data(), c.code.size(), c.x64);
    SCOPED_TRACE(testing::Message() << (c.x64 ? "x64 " : "x86 ") << std::hex
                                    << static_cast<int>(c.code[0]) << " " << c.code.size());
    EXPECT_EQ(found.length, c.length);
    EXPECT_EQ(found.operand, c.operand);
    if (c.operand != none) {
      EXPECT_EQ(found.operandOffset, c.operandOffset);
    }
  }
}

// The walk decodes common instructions by a shorter path than one decoded
// alone, and walks long stretches in lanes side by side, each from a guess
// of where an instruction starts; it must still find exactly what one pass
// decoding instruction after instruction finds. Buffers of random bytes and
// of bytes drawn from the opcodes compilers emit most (prefixes, REX, ModRM
// forms, the two-byte map, branches), some with pointers to step over,
// walked whole and cut short.
TEST(X86Instruction, TheWalkFindsWhatDecodingOneByOneFinds) {
  const unsigned char common[] = {0x0F, 0x0F, 0x48, 0x4C, 0x41, 0x66, 0x67, 0xF3, 0xF2, 0x89,
                                  0x8B, 0x8D, 0xE8, 0xE9, 0xF6, 0xF7, 0xFF, 0xB8, 0xBF, 0xC7,
                                  0x83, 0x81, 0x05, 0x84, 0x85, 0x04, 0x24, 0x05, 0x44, 0x45,
                                  0x80, 0x8F, 0xB6, 0xC4, 0xC5, 0x62, 0x38, 0x3A, 0x69, 0x6B,
                                  0xF0, 0x64, 0x00, 0xC3, 0xCC, 0x90, 0x50, 0x58, 0x74, 0xEB};
  uint32_t state = 12345;
  const auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return state >> 8;
  };
  for (int round = 0; round < 300; ++round) {
    Bytes code(64 + next() % (round % 3 == 0 ? 24000 : 2048));
    const bool biased = round % 2 == 0;
    for (unsigned char& byte : code) {
      byte = static_cast<unsigned char>(biased && next() % 4 != 0 ? common[next() % sizeof common]
                                                                  : next());
    }
    std::vector<uint8_t> pointers(code.size());
    if (round % 4 == 1) {
      for (uint8_t& width : pointers) width = next() % 64 == 0 ? (next() % 2 == 0 ? 4 : 8) : 0;
    }
    for (bool x64 : {false, true}) {
      for (bool final : {true, false}) {
        SCOPED_TRACE(testing::Message()
                     << "round " << round << (x64 ? " x64" : " x86") << (final ? " final" : ""));
        // One pass, instruction after instruction; each step also asked of
        // the walk alone.
        std::vector<std::pair<size_t, X86Instruction>> expected;
        std::vector<X86OperandSite> one(X86WalkSitesMax(1));
        size_t at = 0;
        while (at < code.size()) {
          const size_t left = code.size() - at;
          if (!final && left < X86_INSTRUCTION_MAX) break;
          size_t count = 0;
          const size_t step = WalkX86(code.data(), at, at + 1, code.size(), final, x64,
                                      pointers.data(), one.data(), &count);
          if (pointers[at] != 0) {
            ASSERT_EQ(step, at + pointers[at]);
            ASSERT_EQ(count, 0u);
            at += pointers[at];
            continue;
          }
          const X86Instruction decoded = DecodeX86Instruction(
              code.data() + at, left < X86_INSTRUCTION_MAX ? left : X86_INSTRUCTION_MAX, x64);
          ASSERT_EQ(step, at + (decoded.length == 0 ? 1 : decoded.length)) << "at " << at;
          ASSERT_EQ(count, decoded.operand != X86Operand::None ? 1u : 0u) << "at " << at;
          if (decoded.operand != X86Operand::None) {
            EXPECT_EQ(one[0].instruction.operand, decoded.operand) << "at " << at;
            EXPECT_EQ(one[0].instruction.operandOffset, decoded.operandOffset) << "at " << at;
            expected.push_back({at, decoded});
          }
          at += decoded.length == 0 ? 1 : decoded.length;
        }
        // The walk as a whole, and from a point inside the buffer to one
        // before its end.
        std::vector<X86OperandSite> sites(X86WalkSitesMax(code.size()));
        size_t count = 0;
        const size_t walked = WalkX86(code.data(), 0, code.size(), code.size(), final, x64,
                                      pointers.data(), sites.data(), &count);
        EXPECT_EQ(walked, at);
        ASSERT_EQ(count, expected.size());
        for (size_t i = 0; i < count; ++i) {
          EXPECT_EQ(sites[i].start, expected[i].first);
          EXPECT_EQ(sites[i].instruction.length, expected[i].second.length);
          EXPECT_EQ(sites[i].instruction.operand, expected[i].second.operand);
          EXPECT_EQ(sites[i].instruction.operandOffset, expected[i].second.operandOffset);
        }
        if (expected.size() < 4) continue;
        const size_t from = expected[1].first, stop = expected[expected.size() - 2].first;
        const size_t part = WalkX86(code.data(), from, stop, code.size(), final, x64,
                                    pointers.data(), sites.data(), &count);
        EXPECT_EQ(part, stop);
        ASSERT_EQ(count, expected.size() - 3);
        for (size_t i = 0; i < count; ++i) EXPECT_EQ(sites[i].start, expected[i + 1].first);
      }
    }
  }
}

// --- References -------------------------------------------------------------

std::vector<MadeReference> Found(const Bytes& image) {
  PeLayout layout;
  EXPECT_TRUE(ParsePeLayout(image.data(), std::min<size_t>(image.size(), PE_HEADERS_READ),
                            image.size(), &layout));
  MemoryByteSource source(image.data(), image.size());
  GrowableArray<PeReference> references;
  EXPECT_EQ(FindPeReferences(source, layout, &references), ReferenceScan::Done);
  std::vector<MadeReference> found;
  for (const PeReference& r : references) found.push_back({r.location, r.Kind(), r.Target()});
  return found;
}

TEST(PeReferences, TheFinderSeesExactlyTheReferencesAnImageHolds) {
  for (bool x64 : {false, true}) {
    for (bool relocations : {true, false}) {
      ImageRecipe recipe;
      recipe.x64 = x64;
      recipe.relocations = relocations;
      const MadeImage image = MakeImage(recipe);
      const std::vector<MadeReference> found = Found(image.bytes);
      SCOPED_TRACE(testing::Message() << (x64 ? "x64" : "x86") << ", relocations " << relocations);
      EXPECT_GT(image.references.size(), 400u);
      EXPECT_EQ(found.size(), image.references.size());
      EXPECT_TRUE(found == image.references);
    }
  }
}

// --- The delta of a rebuilt image --------------------------------------------

ImageRecipe Rebuilt(ImageRecipe recipe) {
  recipe.insertedFunction = 9;
  recipe.grownFunction = 3;
  recipe.dataGrowth = 24;
  return recipe;
}

Bytes Decode(const Bytes& delta, const Bytes& source, size_t size, DecodeError expected) {
  Bytes out;
  EXPECT_EQ(DecodeInMemory(EntryCoding::Delta, delta, size, source, &out), expected);
  EXPECT_LE(out.size(), size);
  return out;
}

struct Aligned {
  DeltaStreams streams;
  ReferenceStreamsReport report;
  bool modelled = false;
};

Aligned ReferenceDelta(const Bytes& old, const Bytes& next) {
  Aligned aligned;
  aligned.modelled = WriteReferenceStreams(old.data(), old.size(), next.data(), next.size(), 64,
                                           &aligned.streams, &aligned.report);
  return aligned;
}

TEST(PeLayout, CursorsMapEveryValueAsTheFirstSectionHoldingItDoes) {
  // Sections out of order, overlapping in memory and in the file, one
  // inside another, one empty, one whose memory is larger than its data.
  PeLayout layout;
  layout.sections = {{0x2000, 0x800, 0x400, 0x800},  {0x1000, 0x1800, 0x1000, 0x1400},
                     {0x1400, 0x200, 0x1200, 0x200}, {0x3000, 0, 0x2000, 0},
                     {0x2600, 0x1000, 0x600, 0x300}, {0x0800, 0x100, 0x3000, 0x100}};
  // The rules written out: the first section that holds the value maps it.
  const auto offsetOf = [&](uint32_t rva, uint32_t* offset) {
    for (const PeSection& s : layout.sections) {
      if (rva >= s.address && rva < s.address + MappedSize(s)) {
        *offset = s.rawOffset + (rva - s.address);
        return true;
      }
    }
    return false;
  };
  const auto rvaOf = [&](uint32_t offset, uint32_t* rva) {
    for (const PeSection& s : layout.sections) {
      if (offset >= s.rawOffset && offset < s.rawOffset + MappedSize(s)) {
        *rva = s.address + (offset - s.rawOffset);
        return true;
      }
    }
    return false;
  };
  const auto sectionOf = [&](uint32_t rva) {
    for (size_t i = 0; i < layout.sections.size(); ++i) {
      const PeSection& s = layout.sections[i];
      if (rva >= s.address && rva < s.address + std::max(s.virtualSize, s.rawSize)) return int(i);
    }
    return -1;
  };
  OffsetCursor offsets;
  RvaCursor rvas;
  SectionCursor sections;
  TestGenerator random(7);
  // In order, then jumping about: runs reused, left and found again.
  for (int round = 0; round < 2; ++round) {
    for (uint32_t i = 0; i < 0x4000; ++i) {
      const uint32_t value = round == 0 ? i : static_cast<uint32_t>(random.Below(0x4000));
      uint32_t expected = 0, got = 0, plain = 0;
      const bool held = offsetOf(value, &expected);
      ASSERT_EQ(offsets.Map(layout, value, &got), held) << value;
      ASSERT_EQ(layout.RvaToOffset(value, &plain), held) << value;
      if (held) {
        ASSERT_EQ(got, expected) << value;
        ASSERT_EQ(plain, expected) << value;
      }
      const bool placed = rvaOf(value, &expected);
      ASSERT_EQ(rvas.Map(layout, value, &got), placed) << value;
      ASSERT_EQ(layout.OffsetToRva(value, &plain), placed) << value;
      if (placed) {
        ASSERT_EQ(got, expected) << value;
        ASSERT_EQ(plain, expected) << value;
      }
      const int section = sectionOf(value);
      ASSERT_EQ(sections.Map(layout, value, &got), section >= 0) << value;
      ASSERT_EQ(layout.SectionOf(value), section) << value;
      if (section >= 0) {
        ASSERT_EQ(int(got), section) << value;
      }
    }
  }
}

TEST(PeReferences, TheIndexFindsTheFirstReferenceAtAnyPosition) {
  // References in clusters and gaps, one at the very start and one far out.
  ReferenceModel model(0);
  TestGenerator random(41);
  uint32_t location = 0;
  while (location < 300000) {
    ASSERT_TRUE(model.references.Push(PeReference::Make(location, ReferenceKind::Relative, 0)));
    location += random.Below(8) == 0 ? 4 + random.Below(9000) : 4 + random.Below(12);
  }
  ASSERT_TRUE(model.references.Push(PeReference::Make(5000000, ReferenceKind::Rva, 0)));
  const auto expected = [&](uint64_t position) {
    return static_cast<size_t>(
        std::lower_bound(model.references.begin(), model.references.end(), position,
                         [](const PeReference& r, uint64_t at) { return r.location < at; }) -
        model.references.begin());
  };
  for (int indexed = 0; indexed < 2; ++indexed) {
    if (indexed == 1) model.IndexReferences();
    for (uint64_t position :
         {uint64_t(0), uint64_t(1), uint64_t(1023), uint64_t(1024), uint64_t(4999999),
          uint64_t(5000000), uint64_t(5000001), uint64_t(1) << 33}) {
      EXPECT_EQ(model.FirstAt(position), expected(position)) << position;
    }
    for (int i = 0; i < 20000; ++i) {
      const uint64_t position = random.Below(320000);
      ASSERT_EQ(model.FirstAt(position), expected(position)) << position << " indexed " << indexed;
    }
  }
}

TEST(PeReferences, TheKiBIndexFindsTheFirstOfEqualPlaces) {
  // Copies may start at one place: the search must find the first of them,
  // wherever the halving lands, in buckets of every fill.
  TestGenerator random(43);
  std::vector<uint64_t> places;
  uint64_t place = 0;
  while (place < 200000) {
    const size_t repeats = random.Below(4) == 0 ? 1 + random.Below(40) : 1;
    for (size_t k = 0; k < repeats; ++k) places.push_back(place);
    place += random.Below(6) == 0 ? random.Below(5000) : random.Below(3);
  }
  KiBIndex index;
  const auto placeOf = [&](size_t i) { return places[i]; };
  index.Build(places.size(), placeOf);
  for (uint64_t at = 0; at < place + 2048; ++at) {
    const size_t expected =
        static_cast<size_t>(std::lower_bound(places.begin(), places.end(), at) - places.begin());
    ASSERT_EQ(index.First(at, places.size(), placeOf), expected) << at;
  }
}

TEST(PeReferences, EveryCorrectedTargetMapsToItsCorrection) {
  // Corrections on both sides of KiB boundaries, in clusters and far apart;
  // the layouts are empty, so any other target stays where it is.
  ReferenceModel model(0);
  const uint32_t targets[] = {0, 1, 1023, 1024, 1025, 2047, 5000, 70000, 70001, 1u << 20};
  for (uint32_t target : targets) {
    ASSERT_TRUE(model.corrections.Push({target, target * 3 + 7}));
  }
  for (int cached = 0; cached < 2; ++cached) {
    ASSERT_TRUE(model.CacheTargets(cached == 1));
    size_t next = 0;
    for (uint32_t target = 0; target < (1u << 20) + 2048; ++target) {
      const bool corrected = next < std::size(targets) && targets[next] == target;
      ASSERT_EQ(model.MapTarget(target), corrected ? target * 3 + 7 : target)
          << target << " cached " << cached;
      if (corrected) ++next;
    }
  }
}

TEST(PeReferences, EveryCopiedPointerIsListedAtItsNewPlace) {
  // Pointers among other references; copies of every length. The model
  // lists the pointers wholly inside each copy at their new places, the
  // same whether it searches all references (before they are indexed) or
  // the pointers it keeps apart.
  ReferenceModel model(0);
  PeSection section;
  section.address = 0x1000;
  section.virtualSize = section.rawSize = 0x100000;
  section.rawOffset = 0x400;
  model.newLayout.sections.push_back(section);
  TestGenerator random(47);
  for (uint32_t location = 0x400; location < 0x60000;) {
    const uint32_t pick = random.Below(4);
    const ReferenceKind kind = pick == 0   ? ReferenceKind::Absolute32
                               : pick == 1 ? ReferenceKind::Absolute64
                               : pick == 2 ? ReferenceKind::Relative
                                           : ReferenceKind::Rva;
    ASSERT_TRUE(model.references.Push(PeReference::Make(location, kind, 0)));
    location += static_cast<uint32_t>(ReferenceWidth(kind)) + random.Below(3) * random.Below(40);
  }
  struct Copy {
    uint64_t oldStart, length, newStart;
  };
  std::vector<Copy> copies;
  for (int i = 0; i < 300; ++i) {
    copies.push_back({0x300 + random.Below(0x60000),
                      random.Below(8) == 0 ? random.Below(30000) : random.Below(90),
                      0x400 + random.Below(0x80000)});
  }
  std::vector<std::vector<uint32_t>> listed(2);
  for (int indexed = 0; indexed < 2; ++indexed) {
    if (indexed == 1) model.IndexReferences();
    for (const Copy& copy : copies) {
      GrowableArray<uint32_t> entries;
      ASSERT_TRUE(model.AddMovedRelocations(copy.oldStart, copy.length, copy.newStart, &entries));
      listed[indexed].insert(listed[indexed].end(), entries.begin(), entries.end());
      listed[indexed].push_back(UINT32_MAX);  // between copies
    }
  }
  std::vector<uint32_t> expected;
  for (const Copy& copy : copies) {
    for (const PeReference& r : model.references) {
      const bool wide = r.Kind() == ReferenceKind::Absolute64;
      if ((!wide && r.Kind() != ReferenceKind::Absolute32) || r.location < copy.oldStart ||
          r.location + ReferenceWidth(r.Kind()) > copy.oldStart + copy.length) {
        continue;
      }
      const uint64_t place = r.location - copy.oldStart + copy.newStart - 0x400 + 0x1000;
      expected.push_back(static_cast<uint32_t>(place) | (wide ? RELOCATION_WIDE : 0));
    }
    expected.push_back(UINT32_MAX);
  }
  EXPECT_EQ(listed[0], expected) << "searching every reference";
  EXPECT_EQ(listed[1], expected) << "the pointers apart";
}

TEST(PeReferences, TheCopyIndexMovesEveryPositionAsItsCopyDid) {
  // Copies of every length in command order, overlapping, some far out;
  // each position moves as the copy that holds it (the last to start of
  // the four nearest, else the one reaching furthest), else as the nearest
  // copy before it, and not at all before the first.
  struct Made {
    uint64_t oldStart, length;
    uint32_t shift;
  };
  std::vector<Made> made;
  CopyIndex index(4);
  TestGenerator random(43);
  for (int i = 0; i < 3000; ++i) {
    const uint64_t oldStart =
        500 + (random.Below(16) == 0 ? random.Below(1 << 22) : random.Below(200000));
    const uint64_t length = random.Below(6) == 0 ? 4 + random.Below(50000) : random.Below(300);
    const uint64_t newStart = random.Next();
    ASSERT_TRUE(index.Add(oldStart, newStart, length));
    if (length >= 4) made.push_back({oldStart, length, static_cast<uint32_t>(newStart - oldStart)});
  }
  index.Finish();
  // The same rule, by looking at every copy.
  std::stable_sort(made.begin(), made.end(),
                   [](const Made& a, const Made& b) { return a.oldStart < b.oldStart; });
  const auto expected = [&](uint64_t position) -> uint32_t {
    size_t after = 0;
    while (after < made.size() && made[after].oldStart <= position) ++after;
    if (after == 0) return 0;
    for (size_t back = 0; back < 4 && back < after; ++back) {
      const Made& copy = made[after - 1 - back];
      if (position - copy.oldStart < copy.length) return copy.shift;
    }
    size_t furthest = 0;
    for (size_t i = 0; i < after; ++i) {
      if (made[i].oldStart + made[i].length > made[furthest].oldStart + made[furthest].length) {
        furthest = i;
      }
    }
    const Made& reaching = made[furthest];
    if (position - reaching.oldStart < reaching.length) return reaching.shift;
    return made[after - 1].shift;
  };
  for (int i = 0; i < 4000; ++i) {
    const uint64_t position = random.Below(8) == 0 ? random.Below(1 << 23) : random.Below(210000);
    ASSERT_EQ(index.ShiftAt(position), expected(position)) << position;
  }
  EXPECT_EQ(index.ShiftAt(0), 0u) << "before every copy";
  EXPECT_EQ(index.ShiftAt(uint64_t(1) << 40), expected(uint64_t(1) << 40)) << "past every copy";
}

TEST(PeReferenceDelta, ReferencesWhoseTargetsOnlyMovedCostNothing) {
  for (bool x64 : {false, true}) {
    SCOPED_TRACE(x64 ? "x64" : "x86");
    ImageRecipe recipe;
    recipe.x64 = x64;
    const MadeImage old = MakeImage(recipe);
    const MadeImage next = MakeImage(Rebuilt(recipe));
    const Aligned aligned = ReferenceDelta(old.bytes, next.bytes);
    ASSERT_TRUE(aligned.modelled);
    EXPECT_EQ(aligned.streams.filter, DELTA_FILTER_PE_REFERENCES);
    // Every layout decodes to the new image.
    for (DeltaLayoutChoice layout : {DeltaLayoutChoice::Separate, DeltaLayoutChoice::SeparateSparse,
                                     DeltaLayoutChoice::Packed}) {
      EXPECT_TRUE(Decode(WriteDelta(aligned.streams, layout, 3), old.bytes, next.bytes.size(),
                         DecodeError::None) == next.bytes);
    }
    // Where the copies put each byte of the new image, and its difference.
    std::vector<unsigned char> differenceAt(next.bytes.size(), 0);
    std::vector<bool> copied(next.bytes.size(), false);
    uint64_t at = 0, used = 0;
    for (const DeltaCommand& command : aligned.report.commands) {
      for (uint64_t k = 0; k < command.copy; ++k) {
        differenceAt[at + k] = aligned.streams.difference[used + k];
        copied[at + k] = true;
      }
      used += command.copy;
      at += command.copy + command.insert;
    }
    // Each reference of the new image that a copy makes is predicted
    // exactly, but for a few next to an edit: a target at the very place
    // where a function grew lies between two copies, neither of which holds
    // it (a correction pays only for targets with several references).
    size_t copiedReferences = 0, exact = 0;
    for (const MadeReference& reference : next.references) {
      const size_t width = ReferenceWidth(reference.kind);
      bool inCopy = true, zero = true;
      for (size_t k = 0; k < width; ++k) {
        inCopy = inCopy && copied[reference.location + k];
        zero = zero && differenceAt[reference.location + k] == 0;
      }
      if (!inCopy) continue;
      ++copiedReferences;
      exact += zero ? 1 : 0;
    }
    EXPECT_GT(copiedReferences, next.references.size() * 9 / 10);
    EXPECT_GE(exact, copiedReferences - 8);
    // The new relocation table is copied from the table the decoder builds
    // (its tail may come from the old table where the two agree), without a
    // difference.
    EXPECT_EQ(aligned.report.relocationSize, next.relocationSize);
    at = 0;
    bool rebuilt = false;
    for (const DeltaCommand& command : aligned.report.commands) {
      if (at <= next.relocationOffset && next.relocationOffset < at + command.copy) {
        rebuilt = command.oldPosition + (next.relocationOffset - at) == old.bytes.size();
      }
      at += command.copy + command.insert;
    }
    const bool sameTable =
        std::equal(next.bytes.begin() + next.relocationOffset,
                   next.bytes.begin() + next.relocationOffset + next.relocationSize,
                   old.bytes.begin() + old.relocationOffset);
    EXPECT_TRUE(rebuilt || sameTable);
    EXPECT_EQ(sameTable, x64);  // x64 code holds no pointer: its table did not change
    for (uint32_t k = 0; k < next.relocationSize; ++k) {
      EXPECT_EQ(differenceAt[next.relocationOffset + k], 0) << k;
    }
  }
}

TEST(PeReferenceDelta, TheEncoderTakesTheReferencesWhereTheyWin) {
  for (bool x64 : {false, true}) {
    ImageRecipe recipe;
    recipe.x64 = x64;
    recipe.functions = 400;
    const Bytes old = MakeImage(recipe).bytes;
    const Bytes next = MakeImage(Rebuilt(recipe)).bytes;
    const EncodedData data = EncodeChanged(old.data(), old.size(), next.data(), next.size());
    ASSERT_EQ(data.coding, EntryCoding::Delta);
    EXPECT_EQ(data.bytes[1] & DELTA_FILTER_MASK, DELTA_FILTER_PE_REFERENCES);
    EXPECT_TRUE(Decode(data.bytes, old, next.size(), DecodeError::None) == next);
    // The same files without their headers are plain bytes: the references
    // made the delta much smaller.
    const Bytes oldBody(old.begin() + 0x400, old.end()), nextBody(next.begin() + 0x400, next.end());
    const EncodedData plain =
        EncodeChanged(oldBody.data(), oldBody.size(), nextBody.data(), nextBody.size());
    EXPECT_LT(data.bytes.size() * 3, plain.bytes.size() * 2) << (x64 ? "x64" : "x86");
  }
}

// --- Odd and broken images ----------------------------------------------------

void Put32(Bytes& bytes, size_t at, uint32_t value) {
  for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<unsigned char>(value >> (8 * k));
}

// Offsets in the images MakeImage writes.
constexpr size_t kPe = 0x80;
constexpr size_t kSections32 = kPe + 24 + 224;
constexpr size_t kRelocationDirectory32 = kPe + 24 + 96 + 8 * 5;

// The target of every pointer the relocation table lists, as its bytes
// give it.
void ExpectPointerTargetsAsTheirBytes(const Bytes& image, uint32_t base, uint32_t imageSize) {
  size_t pointers = 0;
  for (const MadeReference& found : Found(image)) {
    if (found.kind != ReferenceKind::Absolute32) continue;
    ++pointers;
    const uint32_t value = ReadLe32(&image[found.location]);
    const uint32_t expected =
        value >= base && value - base < imageSize ? value - base : REFERENCE_NO_TARGET;
    ASSERT_EQ(found.target, expected) << found.location;
  }
  EXPECT_GT(pointers, 100u);
}

TEST(PeReferences, PointersInCodeKeepTheirTargetsWhereverTheWalkCutsIt) {
  // Code of several of the walk's blocks, each seed placing the pointers in
  // it elsewhere.
  for (bool x64 : {false, true}) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
      ImageRecipe recipe;
      recipe.x64 = x64;
      recipe.seed = seed;
      recipe.functions = 2000;
      const MadeImage image = MakeImage(recipe);
      SCOPED_TRACE(testing::Message() << (x64 ? "x64" : "x86") << ", seed " << seed);
      EXPECT_GT(image.bytes.size(), 4 * 32768u);
      EXPECT_TRUE(Found(image.bytes) == image.references);
    }
  }
  // The code ends inside a pointer, whose last bytes the next section maps
  // (at the next address, from the next byte of the file): the walk's last
  // block holds only its first bytes.
  const MadeImage image = MakeImage(ImageRecipe());
  PeLayout layout;
  ASSERT_TRUE(ParsePeLayout(image.bytes.data(), PE_HEADERS_READ, image.bytes.size(), &layout));
  const PeSection text = layout.sections[0];
  uint32_t cut = 0;
  for (const MadeReference& reference : image.references) {
    if (reference.kind == ReferenceKind::Absolute32 && reference.location < text.rawOffset + 6000) {
      cut = reference.location + 2;
    }
  }
  ASSERT_GT(cut, text.rawOffset);
  Bytes odd = image.bytes;
  const size_t textHeader = kSections32, readOnlyHeader = kSections32 + 40;
  WriteLe32(&odd[textHeader + 8], cut - text.rawOffset);  // VirtualSize
  WriteLe32(&odd[readOnlyHeader + 12], text.address + (cut - text.rawOffset));
  WriteLe32(&odd[readOnlyHeader + 20], cut);
  PeLayout oddLayout;
  ASSERT_TRUE(ParsePeLayout(odd.data(), PE_HEADERS_READ, odd.size(), &oddLayout));
  ExpectPointerTargetsAsTheirBytes(odd, 0x10000000u, oddLayout.imageSize);
  bool straddling = false;
  for (const MadeReference& found : Found(odd)) straddling |= found.location == cut - 2;
  EXPECT_TRUE(straddling);
}

void ExpectRoundTrip(const Bytes& old, const Bytes& next) {
  const EncodedData data = EncodeChanged(old.data(), old.size(), next.data(), next.size());
  Bytes out;
  ASSERT_EQ(DecodeInMemory(data.coding, data.bytes, next.size(), old, &out), DecodeError::None);
  EXPECT_TRUE(out == next);
}

bool Modelled(const Bytes& image) {
  PeLayout layout;
  return ParsePeLayout(image.data(), std::min<size_t>(image.size(), PE_HEADERS_READ), image.size(),
                       &layout);
}

TEST(PeReferences, APointerInsideABranchsOperandIsThePointer) {
  // The relocation table moves one of its entries into a call's
  // displacement (its first or last byte): the call's operand is then no
  // reference, the pointer is. Just past it, both are.
  const MadeImage image = MakeImage(ImageRecipe());
  PeLayout layout;
  ASSERT_TRUE(ParsePeLayout(image.bytes.data(), PE_HEADERS_READ, image.bytes.size(), &layout));
  const PeSection text = layout.sections[0];
  const auto rvaOf = [&](uint32_t location) { return text.address + (location - text.rawOffset); };
  for (uint32_t into : {0u, 3u, 4u}) {
    SCOPED_TRACE(into);
    Bytes odd = image.bytes;
    uint32_t call = 0;
    for (uint32_t at = image.relocationOffset;
         call == 0 && at + 8 <= image.relocationOffset + image.relocationSize;) {
      const uint32_t page = ReadLe32(&odd[at]), size = ReadLe32(&odd[at + 4]);
      for (const MadeReference& reference : image.references) {
        if (reference.kind != ReferenceKind::Relative || odd[reference.location - 1] != 0xE8 ||
            (rvaOf(reference.location + into) & ~0xFFFu) != page || size <= 8) {
          continue;
        }
        call = reference.location;
        Put16(odd, at + 8, static_cast<uint16_t>(0x3000 | (rvaOf(call + into) & 0xFFF)));
        break;
      }
      at += size;
    }
    ASSERT_NE(call, 0u);
    bool pointer = false, operand = false;
    for (const MadeReference& found : Found(odd)) {
      pointer |= found.location == call + into && found.kind == ReferenceKind::Absolute32;
      operand |= found.location == call && found.kind == ReferenceKind::Relative;
    }
    EXPECT_TRUE(pointer);
    EXPECT_EQ(operand, into == 4);
  }
}

TEST(PeReferenceDelta, OddImagesRoundTrip) {
  ImageRecipe recipe;
  const Bytes old = MakeImage(recipe).bytes;
  const Bytes next = MakeImage(Rebuilt(recipe)).bytes;
  // A relocation table that ends oddly: a block shorter than its header, a
  // block past the directory, a directory cut inside a block. The blocks
  // before the odd one still count.
  for (uint32_t damage : {0u, 1u, 2u}) {
    Bytes odd = next, oddOld = old;
    for (Bytes* image : {&odd, &oddOld}) {
      uint32_t rva = 0, size = 0;
      std::memcpy(&rva, &(*image)[kRelocationDirectory32], 4);
      std::memcpy(&size, &(*image)[kRelocationDirectory32 + 4], 4);
      PeLayout layout;
      ASSERT_TRUE(Modelled(*image));
      ParsePeLayout(image->data(), PE_HEADERS_READ, image->size(), &layout);
      uint32_t offset = 0;
      ASSERT_TRUE(layout.RvaToOffset(rva, &offset));
      uint32_t firstBlock = 0;
      std::memcpy(&firstBlock, &(*image)[offset + 4], 4);
      if (damage == 0) Put32(*image, offset + firstBlock + 4, 4);
      if (damage == 1) Put32(*image, offset + firstBlock + 4, size);
      if (damage == 2) Put32(*image, kRelocationDirectory32 + 4, firstBlock + 6);
    }
    SCOPED_TRACE(damage);
    const std::vector<MadeReference> found = Found(odd);
    EXPECT_GT(found.size(), 100u);
    ExpectRoundTrip(oddOld, odd);
  }
  // No relocation table at all.
  ImageRecipe bare = recipe;
  bare.relocations = false;
  ExpectRoundTrip(MakeImage(bare).bytes, MakeImage(Rebuilt(bare)).bytes);
  // Overlapping sections: the data section claims the read-only one's bytes.
  Bytes overlapping = next;
  uint32_t readOnlyRaw = 0;
  std::memcpy(&readOnlyRaw, &overlapping[kSections32 + 40 + 20], 4);
  Put32(overlapping, kSections32 + 80 + 20, readOnlyRaw);
  EXPECT_TRUE(Modelled(overlapping));
  ExpectRoundTrip(old, overlapping);
  ExpectRoundTrip(overlapping, next);
  // A truncated image: its last sections' data lies past the file's end.
  const Bytes truncated(next.begin(), next.begin() + next.size() * 3 / 5);
  EXPECT_TRUE(Modelled(truncated));
  ExpectRoundTrip(old, truncated);
  ExpectRoundTrip(truncated, next);
  // A signed image: the certificate table after the sections.
  ExpectRoundTrip(Sign(old), Sign(next, 600));
}

TEST(PeReferenceDelta, ImagesTheModelDoesNotTakeArePlainBytes) {
  ImageRecipe recipe;
  recipe.x64 = true;
  const Bytes old = MakeImage(recipe).bytes;
  const Bytes next = MakeImage(Rebuilt(recipe)).bytes;
  // An ARM64 image: the same layout, code the model must not read as x64.
  Bytes armOld = old, armNext = next;
  for (Bytes* image : {&armOld, &armNext}) {
    (*image)[kPe + 4] = 0x64;
    (*image)[kPe + 5] = 0xAA;
    EXPECT_FALSE(Modelled(*image));
  }
  EXPECT_FALSE(ReferenceDelta(armOld, armNext).modelled);
  ExpectRoundTrip(armOld, armNext);
  // Files that only look like images.
  Bytes magic = next;
  magic[kPe + 24] = 0x0B;  // optional header of the other word size
  magic[kPe + 25] = 0x01;
  Bytes sections = next;
  sections[kPe + 6] = 97;  // more sections than the loader takes
  Bytes signature = next;
  signature[kPe] = 'N';
  Bytes farHeader = next;
  Put32(farHeader, 0x3C, 0x7FFFFFF0);
  for (const Bytes* fake : {&magic, &sections, &signature, &farHeader}) {
    EXPECT_FALSE(Modelled(*fake));
    EXPECT_FALSE(ReferenceDelta(old, *fake).modelled);
    ExpectRoundTrip(old, *fake);
    ExpectRoundTrip(*fake, next);
  }
  // Two images of different machines are not modelled together.
  ImageRecipe x86 = recipe;
  x86.x64 = false;
  EXPECT_FALSE(ReferenceDelta(MakeImage(x86).bytes, next).modelled);
}

// --- Refusals -----------------------------------------------------------------

// A reference delta of hand-written fields: the preamble's numbers, then
// commands that copy the source whole.
struct Preamble {
  int64_t base = 0;
  std::vector<std::vector<int64_t>> sections;  // four differences each
  std::vector<int64_t> tails;                  // per section of the source
  uint64_t relocationSize = 0;
  std::vector<std::pair<uint64_t, int64_t>> corrections;  // gap, shift change
  uint64_t sectionCount = UINT64_MAX;                     // the count written, when not the list's
  uint64_t correctionCount = UINT64_MAX;
};

Bytes PreambleDelta(const Preamble& preamble, size_t copy) {
  DeltaStreams streams;
  streams.filter = DELTA_FILTER_PE_REFERENCES;
  streams.mapMinimum = 64;
  Bytes& control = streams.control;
  AppendVarint(control, ZigzagEncode(preamble.base));
  AppendVarint(control, preamble.sectionCount != UINT64_MAX ? preamble.sectionCount
                                                            : preamble.sections.size());
  for (const auto& section : preamble.sections) {
    for (int64_t field : section) AppendVarint(control, ZigzagEncode(field));
  }
  for (int64_t tail : preamble.tails) AppendVarint(control, ZigzagEncode(tail) << 1);
  AppendVarint(control, preamble.relocationSize);
  AppendVarint(control, preamble.correctionCount != UINT64_MAX ? preamble.correctionCount
                                                               : preamble.corrections.size());
  for (const auto& correction : preamble.corrections) {
    AppendVarint(control, correction.first);
    AppendVarint(control, ZigzagEncode(correction.second));
  }
  AppendVarint(control, 0);
  AppendVarint(control, copy);
  AppendVarint(control, 0);
  streams.difference.assign(copy, 0);
  return WriteDelta(streams, DeltaLayoutChoice::Separate, 3);
}

TEST(PeReferenceDeltaRefusal, EveryMalformedPreambleFieldIsRefused) {
  ImageRecipe recipe;
  recipe.relocations = false;  // the copy of the whole image rebuilds an empty table
  const Bytes image = MakeImage(recipe).bytes;
  const size_t size = image.size();
  // The well-formed delta: the same layout, no table, no correction.
  Preamble sound;
  sound.sections.assign(3, std::vector<int64_t>(4, 0));
  sound.tails.assign(3, 0);
  EXPECT_TRUE(Decode(PreambleDelta(sound, size), image, size, DecodeError::None) == image);

  Preamble many = sound;
  many.sectionCount = PE_SECTIONS_MAX + 1;
  Decode(PreambleDelta(many, size), image, size, DecodeError::PeLayoutBad);
  Preamble negative = sound;
  negative.sections[0][0] = -0x2000;  // an RVA below zero
  Decode(PreambleDelta(negative, size), image, size, DecodeError::PeLayoutBad);
  Preamble huge = sound;
  huge.sections[1][1] = int64_t(PE_IMAGE_SIZE_MAX) + 1;  // larger than an image
  Decode(PreambleDelta(huge, size), image, size, DecodeError::PeLayoutBad);
  Preamble wide = sound;
  wide.sections.push_back({int64_t(UINT32_MAX) + 1, 0, 0, 0});  // past 32 bits
  Decode(PreambleDelta(wide, size), image, size, DecodeError::PeLayoutBad);
  Preamble tail = sound;
  tail.tails[2] = int64_t(1) << 32;  // a shift of more than the address space
  Decode(PreambleDelta(tail, size), image, size, DecodeError::PeLayoutBad);

  Preamble table = sound;
  table.relocationSize = 8;  // the copies bring no pointer
  Decode(PreambleDelta(table, size), image, size, DecodeError::PeRelocationSize);
  Preamble giant = sound;
  giant.relocationSize = uint64_t(1) << 40;
  Decode(PreambleDelta(giant, size), image, size, DecodeError::PeRelocationSize);

  Preamble tooMany = sound;
  tooMany.correctionCount = 1u << 30;  // more than the source's references
  Decode(PreambleDelta(tooMany, size), image, size, DecodeError::PeCorrectionBad);
  Preamble farTarget = sound;
  farTarget.corrections = {{REFERENCE_NO_TARGET, 0}};
  Decode(PreambleDelta(farTarget, size), image, size, DecodeError::PeCorrectionBad);
  Preamble below = sound;
  below.corrections = {{0x1000, -0x2000}};  // a new target below zero
  Decode(PreambleDelta(below, size), image, size, DecodeError::PeCorrectionBad);
  Preamble climbing = sound;
  climbing.corrections = {{0x1000, 0x10}, {PE_IMAGE_SIZE_MAX, 0}};
  Decode(PreambleDelta(climbing, size), image, size, DecodeError::PeCorrectionBad);
  Preamble fine = sound;
  fine.corrections = {{0x10, 0x10}, {0, 0x10}};  // targets 0x10 and 0x11: no reference's
  EXPECT_TRUE(Decode(PreambleDelta(fine, size), image, size, DecodeError::None) == image);

  // Numbers far past what any image holds are refused before they are added
  // to anything: a section's field, a shift change of either sign.
  Preamble farField = sound;
  farField.sections[0][0] = INT64_MAX;  // added to the old section's RVA
  Decode(PreambleDelta(farField, size), image, size, DecodeError::PeLayoutBad);
  Preamble farUp = sound;
  farUp.corrections = {{0x100, 5}, {0, INT64_MAX}};
  Decode(PreambleDelta(farUp, size), image, size, DecodeError::PeCorrectionBad);
  Preamble farDown = sound;
  farDown.corrections = {{0x100, -5}, {0, INT64_MIN}};
  Decode(PreambleDelta(farDown, size), image, size, DecodeError::PeCorrectionBad);
  // A shift may change by more than 32 bits hold: from a target moved up to
  // the top of the address space to the highest target moved down to 0.
  Preamble widest = sound;
  widest.corrections = {
      {0, int64_t(UINT32_MAX)},
      {REFERENCE_NO_TARGET - 2, -int64_t(UINT32_MAX) - (REFERENCE_NO_TARGET - 1)}};
  EXPECT_TRUE(Decode(PreambleDelta(widest, size), image, size, DecodeError::None) == image);

  // Cut anywhere, the delta is refused and nothing past the file is written.
  const Bytes delta = PreambleDelta(sound, size);
  for (size_t cut = 0; cut < delta.size(); cut += 1 + delta.size() / 50) {
    Bytes out;
    EXPECT_NE(DecodeInMemory(EntryCoding::Delta, Bytes(delta.begin(), delta.begin() + cut), size,
                             image, &out),
              DecodeError::None);
    EXPECT_LE(out.size(), size);
  }
  // A reference delta needs an image as its source.
  Bytes notImage = image;
  notImage[0] = 'X';
  Decode(PreambleDelta(sound, size), notImage, size, DecodeError::PeSourceRefused);
  Decode(PreambleDelta(sound, size), Bytes(), size, DecodeError::PeSourceRefused);
}

TEST(PeReferenceDeltaRefusal, DamagedReferenceDeltasNeverOverrunTheFile) {
  ImageRecipe recipe;
  recipe.x64 = true;
  const Bytes old = MakeImage(recipe).bytes;
  const Bytes next = MakeImage(Rebuilt(recipe)).bytes;
  const Aligned aligned = ReferenceDelta(old, next);
  ASSERT_TRUE(aligned.modelled);
  for (DeltaLayoutChoice layout : {DeltaLayoutChoice::Separate, DeltaLayoutChoice::Packed}) {
    const Bytes delta = WriteDelta(aligned.streams, layout, 3);
    for (size_t at = 0; at < delta.size(); at += 1 + delta.size() / 151) {
      Bytes damaged = delta;
      damaged[at] ^= 0x5A;
      Bytes out;
      const DecodeError error = DecodeInMemory(EntryCoding::Delta, damaged, next.size(), old, &out);
      EXPECT_LE(out.size(), next.size());
      if (error == DecodeError::None) {
        EXPECT_EQ(out.size(), next.size());
      }
    }
  }
}

}  // namespace
