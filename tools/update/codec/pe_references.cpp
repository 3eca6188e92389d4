#include "update/codec/pe_references.h"

#include <algorithm>
#include <memory>
#include <new>

#include "update/base/little_endian.h"
#include "update/codec/code_walk.h"
#include "update/codec/source_window.h"

namespace {

constexpr uint16_t kRelocationHighLow = 3;
constexpr uint16_t kRelocationDir64 = 10;
constexpr uint32_t kRelocationBlockHeader = 8;
constexpr uint32_t kExceptionEntrySize = 12;
constexpr uint32_t kExportDirectorySize = 40;

// The second half of a large code section, walked on the worker thread.
struct SecondHalf {
  explicit SecondHalf(ByteSource& source) : window(source, PE_SCAN_WINDOW) {}

  static void Run(void* context) {
    SecondHalf& half = *static_cast<SecondHalf*>(context);
    // Every start of its first instructions, where the first half's walk
    // may meet it; then on at full speed.
    const uint64_t at = half.walker->Step(half.from, half.meetUntil, &half.starts, nullptr);
    half.walker->Walk(at, half.walker->End());
  }

  SourceWindow window;
  // The relocation table's pointers in the half (the finder's table's from
  // `firstPointer` on), their targets read by this walk.
  GrowableArray<PeReference> pointers;
  size_t firstPointer = 0;
  GrowableArray<PeReference> references;
  WalkedStarts starts;
  std::unique_ptr<CodeWalker> walker;
  uint64_t from = 0, meetUntil = 0;
};

class ReferenceFinder {
 public:
  ReferenceFinder(ByteSource& source, const PeLayout& layout, const ReferenceScanHelp& help,
                  GrowableArray<PeReference>* out)
      : source_(source),
        window_(source, PE_SCAN_WINDOW),
        help_(help),
        layout_(layout),
        out_(out),
        fileSize_(source.Size()) {}

  ReferenceScan Run() {
    if (!window_.Allocate()) return ReferenceScan::OutOfMemory;
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
    if (status_ == ReferenceScan::Done) {
      status_ = AddReference(out_, PeReference::Make(location, kind, target));
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
      const unsigned char* entries =
          blockSize <= PE_SCAN_WINDOW / 2 ? window_.At(at, blockSize) : nullptr;
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
      ReadPointerTarget(bytes, layout_, &reference);
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
  // `absoluteCount` are consulted by index. A large section is walked in two
  // halves at once when a worker thread is at hand.
  void WalkCode(const PeSection& section, size_t absoluteCount) {
    CodeWalker walker(window_, layout_, section, out_, absoluteCount, out_);
    if (!walker.Allocate()) {
      status_ = ReferenceScan::OutOfMemory;
      return;
    }
    const uint64_t begin = section.rawOffset;
    const uint64_t end = walker.End();
    std::unique_ptr<SecondHalf> second;
    if (help_.worker != nullptr && end - begin >= help_.splitFrom) {
      second = StartSecondHalf(section, absoluteCount, begin + (end - begin) / 2);
    }
    uint64_t at = walker.Walk(begin, second ? second->from : end);
    if (second) {
      help_.worker->Wait();
      at = JoinSecondHalf(walker, at, *second);
    }
    walker.Walk(at, end);
    if (status_ == ReferenceScan::Done) status_ = walker.Status();
  }

  // The second half's walk on the worker thread, through its own window,
  // with its own copy of the pointers in it, into its own table: nothing it
  // touches is touched by the first half's walk. Null when it cannot start:
  // the section is then walked as a whole.
  std::unique_ptr<SecondHalf> StartSecondHalf(const PeSection& section, size_t absoluteCount,
                                              uint64_t from) {
    std::unique_ptr<SecondHalf> second(new (std::nothrow) SecondHalf(source_));
    if (!second || !second->window.Allocate()) return nullptr;
    const uint64_t end = uint64_t(section.rawOffset) + MappedSize(section);
    const auto before = [](const PeReference& r, uint64_t at) { return r.location < at; };
    const PeReference* pointers = out_->begin();
    const PeReference* first = std::lower_bound(pointers, pointers + absoluteCount, from, before);
    const PeReference* past = std::lower_bound(first, pointers + absoluteCount, end, before);
    const size_t count = static_cast<size_t>(past - first);
    PeReference* copy = second->pointers.Append(count);
    if (copy == nullptr && count != 0) return nullptr;
    std::copy(first, past, copy);
    second->firstPointer = static_cast<size_t>(first - pointers);
    second->walker.reset(new (std::nothrow) CodeWalker(
        second->window, layout_, section, &second->pointers, count, &second->references));
    if (!second->walker || !second->walker->Allocate()) return nullptr;
    second->references.Reserve(static_cast<size_t>((end - from) / 10));
    second->from = from;
    second->meetUntil = std::min<uint64_t>(from + help_.meetWithin, end);
    if (!help_.worker->Start(&SecondHalf::Run, second.get())) return nullptr;
    return second;
  }

  // Where the first half's walk goes on once the second half's has ended:
  // the section's end when the first half's instructions meet the second
  // half's (from there on the two walks are one: the second half's
  // references from the meeting point on are the ones a single walk would
  // find), else where it stands, to walk the rest alone.
  uint64_t JoinSecondHalf(CodeWalker& walker, uint64_t at, const SecondHalf& second) {
    if (walker.Status() != ReferenceScan::Done || second.walker->Status() != ReferenceScan::Done) {
      return at;
    }
    const uint64_t met = walker.Step(at, second.meetUntil, nullptr, &second.starts);
    size_t before = 0;
    if (walker.Status() != ReferenceScan::Done || !second.starts.Find(met, &before)) return met;
    const size_t count = second.references.Size() - before;
    if (out_->Size() + count > PE_REFERENCES_MAX) {
      status_ = ReferenceScan::TooMany;
      return walker.End();
    }
    PeReference* room = out_->Append(count);
    if (room == nullptr && count != 0) {
      status_ = ReferenceScan::OutOfMemory;
      return walker.End();
    }
    std::copy(second.references.begin() + before, second.references.end(), room);
    // The targets of the pointers in the second half, which its walk read.
    std::copy(second.pointers.begin(), second.pointers.end(), out_->begin() + second.firstPointer);
    return walker.End();
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

  ByteSource& source_;
  SourceWindow window_;
  const ReferenceScanHelp& help_;
  // Where each run of references ends in the table.
  size_t runs_[3 + PE_SECTIONS_MAX] = {};
  size_t runCount_ = 0;
  const PeLayout& layout_;
  // Lookups in the layout that mostly fall where the last one did.
  OffsetCursor offsets_;
  GrowableArray<PeReference>* out_;
  uint64_t fileSize_;
  ReferenceScan status_ = ReferenceScan::Done;
};

}  // namespace

ReferenceScan FindPeReferences(ByteSource& source, const PeLayout& layout,
                               GrowableArray<PeReference>* references,
                               const ReferenceScanHelp& help) {
  return ReferenceFinder(source, layout, help, references).Run();
}
