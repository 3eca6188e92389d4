#include "update/codec/pe_references.h"

#include <algorithm>
#include <memory>
#include <new>

#include "update/base/little_endian.h"
#include "update/codec/source_window.h"
#include "update/codec/x86_instruction.h"

namespace {

constexpr size_t kWindow = 64 * 1024;
// The code is walked this much at a time (half a window: the window need
// not move for the instructions that straddle the end).
constexpr size_t kWalk = kWindow / 2;
constexpr uint16_t kRelocationHighLow = 3;
constexpr uint16_t kRelocationDir64 = 10;
constexpr uint32_t kRelocationBlockHeader = 8;
constexpr uint32_t kExceptionEntrySize = 12;
constexpr uint32_t kExportDirectorySize = 40;

class ReferenceFinder {
 public:
  ReferenceFinder(ByteSource& source, const PeLayout& layout, GrowableArray<PeReference>* out)
      : window_(source, kWindow), layout_(layout), out_(out), fileSize_(source.Size()) {}

  ReferenceScan Run() {
    // With room for PointerStarts' loads past the block's end.
    pointers_.reset(new (std::nothrow) uint8_t[kWalk + 16]());
    sites_.reset(new (std::nothrow) X86OperandSite[X86WalkSitesMax(kWalk)]);
    if (!window_.Allocate() || !pointers_ || !sites_) return ReferenceScan::OutOfMemory;
    // Room for what real images hold (a reference per ten bytes of code, one
    // per entry of the tables), so that the table seldom grows: growing
    // copies it and touches fresh memory. Past that it grows as it must.
    uint64_t expected = layout_.relocations.size / 2 + layout_.exceptions.size / 4;
    for (const PeSection& section : layout_.sections) {
      if (section.code) expected += MappedSize(section) / 10;
    }
    out_->Reserve(static_cast<size_t>(expected < PE_REFERENCES_MAX ? expected : PE_REFERENCES_MAX));
    ReadRelocations();
    if (status_ == ReferenceScan::Done) ReadAbsoluteTargets();
    // The relocation table's pointers, sorted: the walk through the code
    // consults them as it goes.
    const size_t absolute = out_->Size();
    // Each reader adds a run of references in file order; they are merged
    // at the end.
    runs_[runCount_++] = absolute;
    if (status_ == ReferenceScan::Done) ReadExceptionTable();
    runs_[runCount_++] = out_->Size();
    if (status_ == ReferenceScan::Done) ReadExports();
    runs_[runCount_++] = out_->Size();
    for (size_t i = 0; status_ == ReferenceScan::Done && i < layout_.sections.size(); ++i) {
      if (!layout_.sections[i].code) continue;
      WalkCode(layout_.sections[i], absolute);
      runs_[runCount_++] = out_->Size();
    }
    if (status_ != ReferenceScan::Done) return status_;
    if (window_.Failed()) return ReferenceScan::Unreadable;
    SortAndDropOverlaps();
    return ReferenceScan::Done;
  }

 private:
  void Add(uint32_t location, ReferenceKind kind, uint32_t target) {
    if (status_ != ReferenceScan::Done) return;
    if (out_->Size() >= PE_REFERENCES_MAX) {
      status_ = ReferenceScan::TooMany;
    } else if (!out_->Push(PeReference::Make(location, kind, target))) {
      status_ = ReferenceScan::OutOfMemory;
    }
  }

  // The file position of `width` bytes at `rva`, all inside one section's data.
  bool Span(uint32_t rva, uint32_t width, uint32_t* offset) {
    uint32_t last = 0;
    return offsets_.Map(layout_, rva, offset) && offsets_.Map(layout_, rva + width - 1, &last) &&
           last == *offset + width - 1;
  }

  // The table's entries give locations only; targets are read afterwards in
  // file order (ReadAbsoluteTargets), so the file is read forwards once.
  void ReadRelocations() {
    uint32_t offset = 0;
    const PeDirectory& directory = layout_.relocations;
    if (directory.size == 0 || !layout_.RvaToOffset(directory.address, &offset)) return;
    uint64_t at = offset;
    uint64_t end = at + directory.size;
    if (end > fileSize_) end = fileSize_;
    // Blocks until the directory ends or one does not hold together: what
    // follows an odd block is not read.
    while (end - at >= kRelocationBlockHeader && status_ == ReferenceScan::Done) {
      const unsigned char* header = window_.At(at, kRelocationBlockHeader);
      if (header == nullptr) return;
      const uint32_t page = ReadLe32(header);
      const uint32_t blockSize = ReadLe32(header + 4);
      if (blockSize < kRelocationBlockHeader || blockSize > end - at) return;
      // A block covers a page: its entries are read at once, unless it is
      // larger than a real one can be.
      const unsigned char* entries = blockSize <= kWindow / 2 ? window_.At(at, blockSize) : nullptr;
      for (uint32_t k = kRelocationBlockHeader; k + 2 <= blockSize; k += 2) {
        const unsigned char* entry = entries != nullptr ? entries + k : window_.At(at + k, 2);
        if (entry == nullptr) return;
        const uint16_t value = static_cast<uint16_t>(entry[0] | entry[1] << 8);
        const uint16_t type = value >> 12;
        ReferenceKind kind;
        if (type == kRelocationHighLow) {
          kind = ReferenceKind::Absolute32;
        } else if (type == kRelocationDir64 && layout_.machine == PeMachine::X64) {
          kind = ReferenceKind::Absolute64;
        } else {
          continue;
        }
        uint32_t location = 0;
        if (Span(page + (value & 0xFFF), static_cast<uint32_t>(ReferenceWidth(kind)), &location)) {
          Add(location, kind, REFERENCE_NO_TARGET);
        }
      }
      at += blockSize;
    }
  }

  // Targets of the pointers outside code; the walk through the code reads
  // those inside it from the bytes it walks (one pass over the code, not two).
  void ReadAbsoluteTargets() {
    PeReference* begin = out_->begin();
    const auto before = [](const PeReference& a, const PeReference& b) {
      return a.location < b.location;
    };
    // Linkers write the blocks in address order.
    if (!std::is_sorted(begin, out_->end(), before)) std::sort(begin, out_->end(), before);
    // One pointer listed twice is one reference.
    PeReference* last = std::unique(
        begin, out_->end(),
        [](const PeReference& a, const PeReference& b) { return a.location == b.location; });
    out_->Truncate(static_cast<size_t>(last - begin));
    for (PeReference& reference : *out_) {
      if (InCode(reference.location)) continue;
      const unsigned char* bytes = window_.At(reference.location, ReferenceWidth(reference.Kind()));
      if (bytes == nullptr) return;
      ReadTarget(bytes, &reference);
    }
  }

  bool InCode(uint64_t location) const {
    for (const PeSection& section : layout_.sections) {
      if (section.code && location >= section.rawOffset &&
          location - section.rawOffset < MappedSize(section)) {
        return true;
      }
    }
    return false;
  }

  // The pointer's target, from its bytes, when it points into the image.
  void ReadTarget(const unsigned char* bytes, PeReference* reference) const {
    uint64_t value = ReadLe32(bytes);
    if (ReferenceWidth(reference->Kind()) == 8) {
      value |= static_cast<uint64_t>(ReadLe32(bytes + 4)) << 32;
    }
    const uint64_t target = value - layout_.imageBase;
    if (value >= layout_.imageBase && target < layout_.imageSize) {
      *reference =
          PeReference::Make(reference->location, reference->Kind(), static_cast<uint32_t>(target));
    }
  }

  // `count` entries of `size` bytes at `rva`, each `fields` RVAs from its start.
  void ReadRvaArray(uint32_t rva, uint64_t count, uint32_t size, uint32_t fields) {
    for (uint64_t i = 0; i < count && status_ == ReferenceScan::Done; ++i) {
      uint32_t offset = 0;
      const uint64_t entryRva = rva + i * size;
      if (entryRva + size > PE_IMAGE_SIZE_MAX ||
          !Span(static_cast<uint32_t>(entryRva), size, &offset)) {
        return;
      }
      const unsigned char* entry = window_.At(offset, size);
      if (entry == nullptr) return;
      for (uint32_t field = 0; field < fields; ++field) {
        const uint32_t target = ReadLe32(entry + 4 * field);
        if (target != 0 && target < layout_.imageSize) {
          Add(offset + 4 * field, ReferenceKind::Rva, target);
        }
      }
    }
  }

  void ReadExceptionTable() {
    const PeDirectory& directory = layout_.exceptions;
    if (layout_.machine != PeMachine::X64) return;
    ReadRvaArray(directory.address, directory.size / kExceptionEntrySize, kExceptionEntrySize, 3);
  }

  void ReadExports() {
    uint32_t offset = 0;
    const PeDirectory& directory = layout_.exports;
    if (directory.size < kExportDirectorySize ||
        !Span(directory.address, kExportDirectorySize, &offset)) {
      return;
    }
    const unsigned char* header = window_.At(offset, kExportDirectorySize);
    if (header == nullptr) return;
    const uint32_t functions = ReadLe32(header + 20), names = ReadLe32(header + 24);
    const uint32_t functionTable = ReadLe32(header + 28), nameTable = ReadLe32(header + 32);
    // Counts past what the image could hold are not believed.
    const uint32_t limit = layout_.imageSize / 4;
    if (functions <= limit) ReadRvaArray(functionTable, functions, 4, 1);
    if (names <= limit) ReadRvaArray(nameTable, names, 4, 1);
  }

  // The table grows while the walk adds to it: the pointers before
  // `absoluteCount` are consulted by index.
  void WalkCode(const PeSection& section, size_t absoluteCount) {
    const bool x64 = layout_.machine == PeMachine::X64;
    const uint64_t begin = section.rawOffset;
    const uint64_t end = begin + MappedSize(section);
    // The first pointer at or after the walk.
    size_t absolute = static_cast<size_t>(
        std::lower_bound(out_->begin(), out_->begin() + absoluteCount, begin,
                         [](const PeReference& r, uint64_t at) { return r.location < at; }) -
        out_->begin());
    uint64_t at = begin;
    while (at < end && status_ == ReferenceScan::Done) {
      // Half a window of code at a time, with the pointers that start in it.
      const size_t want = end - at < kWalk ? static_cast<size_t>(end - at) : kWalk;
      const unsigned char* block = window_.At(at, want);
      if (block == nullptr) return;
      while (absolute != absoluteCount && (*out_)[absolute].location < at) ++absolute;
      size_t marked = absolute;
      for (; marked != absoluteCount && (*out_)[marked].location < at + want; ++marked) {
        const PeReference& pointer = (*out_)[marked];
        pointers_[pointer.location - at] = static_cast<uint8_t>(ReferenceWidth(pointer.Kind()));
      }
      size_t count = 0;
      const size_t walked = WalkX86(block, 0, want, want, at + want == end, x64, pointers_.get(),
                                    sites_.get(), &count);
      for (size_t i = 0; i < count; ++i) {
        const X86OperandSite& site = sites_[i];
        // A pointer inside the instruction, up to its operand's end: the
        // operand is not what it seems.
        if (PointerStarts(site.start + 1, site.start + site.instruction.operandOffset + 4)) {
          continue;
        }
        AddRelative(section, at + site.start, site.instruction, block + site.start);
      }
      // The pointers' targets: from the block, or (reaching past it) from
      // the window, which may move now that the block is not read again.
      size_t straddling = marked;
      for (size_t i = absolute; i != marked; ++i) {
        PeReference& pointer = (*out_)[i];
        pointers_[pointer.location - at] = 0;
        if (pointer.location + ReferenceWidth(pointer.Kind()) <= at + want) {
          ReadTarget(block + (pointer.location - at), &pointer);
        } else if (straddling == marked) {
          straddling = i;
        }
      }
      for (size_t i = straddling; i != marked; ++i) {
        PeReference& pointer = (*out_)[i];
        const size_t width = ReferenceWidth(pointer.Kind());
        if (pointer.location + width <= at + want) continue;
        const unsigned char* bytes = window_.At(pointer.location, width);
        if (bytes == nullptr) return;
        ReadTarget(bytes, &pointer);
      }
      at += walked != 0 ? walked : 1;
    }
  }

  // Whether a pointer starts in the walked block's [from, to), at most 16
  // bytes: two loads of the byte map and of a mask of `to - from` ones, not
  // a search of the pointers.
  bool PointerStarts(size_t from, size_t to) const {
    static constexpr unsigned char kOnes[32] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const unsigned char* map = pointers_.get() + from;
    const unsigned char* mask = kOnes + 16 - (to - from);
    return ((ReadLe64(map) & ReadLe64(mask)) | (ReadLe64(map + 8) & ReadLe64(mask + 8))) != 0;
  }

  void AddRelative(const PeSection& section, uint64_t at, const X86Instruction& instruction,
                   const unsigned char* code) {
    const uint64_t location = at + instruction.operandOffset;
    const uint32_t nextRva =
        section.address + static_cast<uint32_t>(at - section.rawOffset) + instruction.length;
    const int64_t target = static_cast<int64_t>(nextRva) +
                           static_cast<int32_t>(ReadLe32(code + instruction.operandOffset));
    if (target < 0 || target >= static_cast<int64_t>(layout_.imageSize)) return;
    uint32_t reached = 0;
    if (!sections_.Map(layout_, static_cast<uint32_t>(target), &reached)) return;
    if (instruction.operand == X86Operand::Branch && !layout_.sections[reached].code) return;
    Add(static_cast<uint32_t>(location), ReferenceKind::Relative, static_cast<uint32_t>(target));
  }

  // Sorted by location; of two at one place the relocation table's pointer
  // wins, then a table's entry, then the code's operand; of two that
  // overlap, the first.
  void SortAndDropOverlaps() {
    const auto before = [](const PeReference& a, const PeReference& b) {
      return a.location != b.location ? a.location < b.location : Rank(a) < Rank(b);
    };
    PeReference* begin = out_->begin();
    size_t start = 0;
    for (size_t run = 0; run < runCount_; ++run) {
      PeReference* runEnd = begin + runs_[run];
      // Runs are in file order unless sections overlap or lie out of order.
      if (!std::is_sorted(begin + start, runEnd, before)) std::sort(begin + start, runEnd, before);
      if (run > 0) std::inplace_merge(begin, begin + start, runEnd, before);
      start = runs_[run];
    }
    size_t kept = 0;
    uint64_t free = 0;  // first position no kept reference covers
    for (size_t i = 0; i < out_->Size(); ++i) {
      const PeReference reference = (*out_)[i];
      if (reference.location < free) continue;
      (*out_)[kept++] = reference;
      free = uint64_t(reference.location) + ReferenceWidth(reference.Kind());
    }
    out_->Truncate(kept);
  }

  static int Rank(const PeReference& reference) {
    switch (reference.Kind()) {
      case ReferenceKind::Absolute32:
      case ReferenceKind::Absolute64:
        return 0;
      case ReferenceKind::Rva:
        return 1;
      case ReferenceKind::Relative:
        break;
    }
    return 2;
  }

  SourceWindow window_;
  // For the walk: per byte of the walked code, the width of a pointer
  // starting there; the instructions with a relative operand.
  std::unique_ptr<uint8_t[]> pointers_;
  std::unique_ptr<X86OperandSite[]> sites_;
  // Where each run of references ends in the table.
  size_t runs_[3 + PE_SECTIONS_MAX] = {};
  size_t runCount_ = 0;
  const PeLayout& layout_;
  // Lookups in the layout that mostly fall where the last one did.
  OffsetCursor offsets_;
  SectionCursor sections_;
  GrowableArray<PeReference>* out_;
  uint64_t fileSize_;
  ReferenceScan status_ = ReferenceScan::Done;
};

}  // namespace

ReferenceScan FindPeReferences(ByteSource& source, const PeLayout& layout,
                               GrowableArray<PeReference>* references) {
  return ReferenceFinder(source, layout, references).Run();
}
