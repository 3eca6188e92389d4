#include "update/codec/code_walk.h"

#include <algorithm>
#include <new>

namespace {

// The code is walked half a window at a time: the window need not move for
// the instructions that straddle the end.
constexpr size_t kWalk = PE_SCAN_WINDOW / 2;

}  // namespace

bool WalkedStarts::Add(uint64_t start, size_t referencesBefore) {
  return starts_.Push(Start{start, referencesBefore});
}

bool WalkedStarts::Find(uint64_t start, size_t* referencesBefore) const {
  const Start* found =
      std::lower_bound(starts_.begin(), starts_.end(), start,
                       [](const Start& known, uint64_t at) { return known.start < at; });
  if (found == starts_.end() || found->start != start) return false;
  *referencesBefore = found->referencesBefore;
  return true;
}

CodeWalker::CodeWalker(SourceWindow& window, const PeLayout& layout, const PeSection& section,
                       GrowableArray<PeReference>* pointers, size_t pointerCount,
                       GrowableArray<PeReference>* out)
    : window_(window),
      layout_(layout),
      section_(section),
      pointers_(pointers),
      pointerCount_(pointerCount),
      out_(out),
      end_(uint64_t(section.rawOffset) + MappedSize(section)),
      x64_(layout.machine == PeMachine::X64) {}

bool CodeWalker::Allocate() {
  // With room for PointerStarts' loads past the block's end.
  marks_.reset(new (std::nothrow) uint8_t[kWalk + 16]());
  sites_.reset(new (std::nothrow) X86OperandSite[X86WalkSitesMax(kWalk)]);
  if (!marks_ || !sites_) status_ = ReferenceScan::OutOfMemory;
  return status_ == ReferenceScan::Done;
}

ReferenceScan CodeWalker::Status() const {
  if (status_ == ReferenceScan::Done && window_.Failed()) return ReferenceScan::Unreadable;
  return status_;
}

uint64_t CodeWalker::Walk(uint64_t at, uint64_t until) {
  Block block;
  while (at < until && Enter(at, &block)) {
    size_t count = 0;
    const size_t stop = until - at < block.size ? static_cast<size_t>(until - at) : block.size;
    const size_t walked = WalkX86(block.bytes, 0, stop, block.size, block.final, x64_, marks_.get(),
                                  sites_.get(), &count);
    AddSites(block, count);
    Leave(block);
    at += walked != 0 ? walked : 1;
  }
  return at;
}

uint64_t CodeWalker::Step(uint64_t at, uint64_t until, WalkedStarts* record,
                          const WalkedStarts* meet) {
  Block block;
  while (at < until && Enter(at, &block)) {
    const size_t stop = until - at < block.size ? static_cast<size_t>(until - at) : block.size;
    size_t position = 0;
    while (position < stop) {
      size_t before = 0;
      if (meet != nullptr && meet->Find(at + position, &before)) {
        Leave(block);
        return at + position;
      }
      if (record != nullptr && !record->Add(at + position, out_->Size())) {
        status_ = ReferenceScan::OutOfMemory;
        break;
      }
      size_t count = 0;
      const size_t next = WalkX86(block.bytes, position, position + 1, block.size, block.final,
                                  x64_, marks_.get(), sites_.get(), &count);
      // The instruction reaches past the block: the next block starts with it.
      if (next == position) break;
      AddSites(block, count);
      position = next;
    }
    Leave(block);
    if (status_ != ReferenceScan::Done) break;
    at += position != 0 ? position : 1;
  }
  return at;
}

bool CodeWalker::Enter(uint64_t at, Block* block) {
  if (status_ != ReferenceScan::Done) return false;
  const size_t want = end_ - at < kWalk ? static_cast<size_t>(end_ - at) : kWalk;
  block->at = at;
  block->size = want;
  block->final = at + want == end_;
  block->bytes = window_.At(at, want);
  if (block->bytes == nullptr) {
    // Inside the file (the layout says so): the read failed.
    status_ = ReferenceScan::Unreadable;
    return false;
  }
  const GrowableArray<PeReference>& pointers = *pointers_;
  size_t first = nextPointer_;
  // The walk may start anywhere: the first time, the pointers before it are
  // passed over at once.
  if (!begun_) {
    begun_ = true;
    first =
        static_cast<size_t>(std::lower_bound(pointers.begin(), pointers.begin() + pointerCount_, at,
                                             [](const PeReference& r, uint64_t position) {
                                               return r.location < position;
                                             }) -
                            pointers.begin());
  }
  while (first != pointerCount_ && pointers[first].location < at) ++first;
  size_t past = first;
  for (; past != pointerCount_ && pointers[past].location < at + want; ++past) {
    marks_[pointers[past].location - at] =
        static_cast<uint8_t>(ReferenceWidth(pointers[past].Kind()));
  }
  nextPointer_ = first;
  block->firstPointer = first;
  block->pastPointers = past;
  return true;
}

// Two loads of the byte map and of a mask of `to - from` ones, not a search
// of the pointers.
inline bool CodeWalker::PointerStarts(size_t from, size_t to) const {
  static constexpr unsigned char kOnes[32] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                              0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const unsigned char* map = marks_.get() + from;
  const unsigned char* mask = kOnes + 16 - (to - from);
  return ((ReadLe64(map) & ReadLe64(mask)) | (ReadLe64(map + 8) & ReadLe64(mask + 8))) != 0;
}

void CodeWalker::AddSites(const Block& block, size_t count) {
  // 64-bit code seldom holds a pointer the relocation table lists.
  const bool pointers = block.firstPointer != block.pastPointers;
  for (size_t i = 0; i < count && status_ == ReferenceScan::Done; ++i) {
    const X86OperandSite& site = sites_[i];
    const X86Instruction& instruction = site.instruction;
    // A pointer inside the instruction, up to its operand's end: the
    // operand is not what it seems.
    if (pointers && PointerStarts(site.start + 1, site.start + instruction.operandOffset + 4)) {
      continue;
    }
    const uint64_t at = block.at + site.start;
    const uint32_t nextRva =
        section_.address + static_cast<uint32_t>(at - section_.rawOffset) + instruction.length;
    const int64_t target =
        static_cast<int64_t>(nextRva) +
        static_cast<int32_t>(ReadLe32(block.bytes + site.start + instruction.operandOffset));
    if (target < 0 || target >= static_cast<int64_t>(layout_.imageSize)) continue;
    uint32_t reached = 0;
    if (!sections_.Map(layout_, static_cast<uint32_t>(target), &reached)) continue;
    if (instruction.operand == X86Operand::Branch && !layout_.sections[reached].code) continue;
    status_ = AddReference(
        out_, PeReference::Make(static_cast<uint32_t>(at + instruction.operandOffset),
                                ReferenceKind::Relative, static_cast<uint32_t>(target)));
  }
}

void CodeWalker::Leave(const Block& block) {
  // From the block, or (reaching past it) from the window, which may move
  // now that the block is not read again.
  size_t straddling = block.pastPointers;
  for (size_t i = block.firstPointer; i != block.pastPointers; ++i) {
    PeReference& pointer = (*pointers_)[i];
    marks_[pointer.location - block.at] = 0;
    if (pointer.location + ReferenceWidth(pointer.Kind()) <= block.at + block.size) {
      ReadPointerTarget(block.bytes + (pointer.location - block.at), layout_, &pointer);
    } else if (straddling == block.pastPointers) {
      straddling = i;
    }
  }
  for (size_t i = straddling; i != block.pastPointers; ++i) {
    PeReference& pointer = (*pointers_)[i];
    const size_t width = ReferenceWidth(pointer.Kind());
    if (pointer.location + width <= block.at + block.size) continue;
    const unsigned char* bytes = window_.At(pointer.location, width);
    if (bytes == nullptr) {
      status_ = ReferenceScan::Unreadable;
      return;
    }
    ReadPointerTarget(bytes, layout_, &pointer);
  }
}
