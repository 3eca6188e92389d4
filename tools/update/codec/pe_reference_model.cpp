#include "update/codec/pe_reference_model.h"

#include <algorithm>
#include <new>

#include "update/base/little_endian.h"
#include "update/codec/relocation_table.h"

namespace {

// References are 4 or 8 bytes wide: two fixed widths the compiler unrolls.
uint64_t ReadLe(const unsigned char* p, size_t width) {
  return width == 8 ? ReadLe64(p) : ReadLe32(p);
}

void WriteLe(unsigned char* p, size_t width, uint64_t value) {
  if (width == 8) {
    WriteLe64(p, value);
  } else {
    WriteLe32(p, static_cast<uint32_t>(value));
  }
}

// Targets remembered: 2^kCacheBits slots (128 KiB), chosen by a
// multiplicative hash. Large images have far more distinct targets than a
// few thousand slots hold (decoding took 6 % longer in all with 4,096).
constexpr unsigned kCacheBits = 14;
// How many references ahead Predict fetches a target's slot.
constexpr size_t kTargetsAhead = 8;

// Of the copies that start at or before a position, this many nearest are
// asked whether they hold it before the one reaching furthest is.
constexpr size_t kNearestCopies = 4;

}  // namespace

bool CopyIndex::Add(uint64_t oldStart, uint64_t newStart, uint64_t length) {
  if (length == 0 || length < minimumLength_ || entries_.Size() >= PE_COPIES_MAX ||
      oldStart >= PE_IMAGE_SIZE_MAX * uint64_t(2)) {
    return true;
  }
  const uint64_t room = PE_IMAGE_SIZE_MAX * uint64_t(2) - oldStart;
  Entry entry;
  entry.oldStart = static_cast<uint32_t>(oldStart);
  entry.length = static_cast<uint32_t>(length < room ? length : room);
  entry.shift = static_cast<uint32_t>(newStart - oldStart);
  entry.order = static_cast<uint32_t>(entries_.Size());
  return entries_.Push(entry);
}

void CopyIndex::Finish() {
  std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
    return a.oldStart != b.oldStart ? a.oldStart < b.oldStart : a.order < b.order;
  });
  // From here on `order` names the entry (up to this one) that reaches
  // furthest: a long copy still holds positions past many short ones.
  uint32_t furthest = 0;
  for (size_t i = 0; i < entries_.Size(); ++i) {
    const Entry& best = entries_[furthest];
    const Entry& entry = entries_[i];
    if (uint64_t(entry.oldStart) + entry.length > uint64_t(best.oldStart) + best.length) {
      furthest = static_cast<uint32_t>(i);
    }
    entries_[i].order = furthest;
  }
  index_.Build(entries_.Size(), [this](size_t i) { return uint64_t(entries_[i].oldStart); });
}

uint32_t CopyIndex::ShiftAt(uint64_t position) const {
  // The first copy that starts after `position`.
  const size_t after = index_.First(position + 1, entries_.Size(),
                                    [this](size_t i) { return uint64_t(entries_[i].oldStart); });
  if (after == 0) return 0;
  const size_t nearest = after - 1;
  for (size_t back = 0; back < kNearestCopies && back <= nearest; ++back) {
    const Entry& entry = entries_[nearest - back];
    if (position - entry.oldStart < entry.length) return entry.shift;
  }
  const Entry& furthest = entries_[entries_[nearest].order];
  if (position - furthest.oldStart < furthest.length) return furthest.shift;
  return entries_[nearest].shift;
}

size_t ReferenceModel::CacheSlot(uint32_t target) {
  return (target * 2654435761u) >> (32 - kCacheBits);
}

uint32_t ReferenceModel::MapTarget(uint32_t target) const {
  if (!cache_) return MapUncached(target);
  CachedTarget& slot = cache_[CacheSlot(target)];
  if (slot.target != target + 1) {
    slot.target = target + 1;
    slot.moved = MapUncached(target);
  }
  return slot.moved;
}

bool ReferenceModel::CacheTargets(bool on) {
  cursors_ = Cursors();
  correctionIndex_ = KiBIndex();
  if (on) {
    correctionIndex_.Build(corrections.Size(),
                           [this](size_t i) { return uint64_t(corrections[i].oldTarget); });
  }
  cache_.reset(on ? new (std::nothrow) CachedTarget[size_t(1) << kCacheBits]() : nullptr);
  return !on || cache_ != nullptr;
}

uint32_t ReferenceModel::MapUncached(uint32_t target) const {
  const size_t found = correctionIndex_.First(
      target, corrections.Size(), [this](size_t i) { return uint64_t(corrections[i].oldTarget); });
  if (found != corrections.Size() && corrections[found].oldTarget == target) {
    return corrections[found].newTarget;
  }
  uint32_t section = 0;
  const bool known = cursors_.oldSections.Map(oldLayout, target, &section) &&
                     static_cast<size_t>(section) < sectionShifts.size();
  uint32_t moved = 0;
  if ((!known || byCopies[section] != 0) && Project(target, &moved)) return moved;
  return known ? target + sectionShifts[section] : target;
}

bool ReferenceModel::Project(uint32_t target, uint32_t* moved) const {
  uint32_t offset = 0, oldSection = 0, newSection = 0;
  if (!cursors_.oldOffsets.Map(oldLayout, target, &offset)) return false;
  const uint64_t projected = uint64_t(offset) + copies.ShiftAt(offset);
  if (!cursors_.newRvas.Map(newLayout, projected & 0xFFFFFFFFu, moved)) return false;
  // Both in a section, the same one; or both in none.
  const bool inNew = cursors_.newSections.Map(newLayout, *moved, &newSection);
  const bool inOld = cursors_.oldSections.Map(oldLayout, target, &oldSection);
  return inNew == inOld && newSection == oldSection;
}

uint32_t ReferenceModel::DefaultSectionShift(size_t section) const {
  if (section >= oldLayout.sections.size() || section >= newLayout.sections.size()) return 0;
  return newLayout.sections[section].address - oldLayout.sections[section].address;
}

void ReferenceModel::IndexReferences() {
  index_.Build(references.Size(), [this](size_t i) { return uint64_t(references[i].location); });
  pointers_ = GrowableArray<PeReference>();
  pointersApart_ = false;
  // Without a branch on each reference's kind: pointers and operands
  // alternate in code, and the processor would guess wrong at every turn.
  const auto pointer = [](const PeReference& reference) {
    const unsigned kind = static_cast<unsigned>(reference.Kind());
    return static_cast<size_t>(kind == unsigned(ReferenceKind::Absolute32)) |
           static_cast<size_t>(kind == unsigned(ReferenceKind::Absolute64));
  };
  size_t count = 0;
  for (const PeReference& reference : references) count += pointer(reference);
  // One more: each reference is written, and kept if it is a pointer.
  PeReference* apart = pointers_.Append(count + 1);
  if (apart == nullptr) {
    pointers_ = GrowableArray<PeReference>();
    return;
  }
  size_t kept = 0;
  for (const PeReference& reference : references) {
    apart[kept] = reference;
    kept += pointer(reference);
  }
  pointers_.Truncate(kept);
  pointerIndex_.Build(pointers_.Size(),
                      [this](size_t i) { return uint64_t(pointers_[i].location); });
  pointersApart_ = true;
}

size_t ReferenceModel::FirstAt(uint64_t position) const {
  return index_.First(position, references.Size(),
                      [this](size_t i) { return uint64_t(references[i].location); });
}

void ReferenceModel::PrefetchReferences(uint64_t position) const {
  index_.Prefetch(position, references.Size(), [this](size_t i) { return &references[i]; });
}

void ReferenceModel::PrefetchPointers(uint64_t position) const {
  const GrowableArray<PeReference>& table = pointersApart_ ? pointers_ : references;
  (pointersApart_ ? pointerIndex_ : index_).Prefetch(position, table.Size(), [&table](size_t i) {
    return &table[i];
  });
}

uint64_t ReferenceModel::PieceEnd(uint64_t position, uint64_t limit, uint64_t copyEnd) const {
  if (limit >= copyEnd) return limit;
  // The reference that starts last before the limit is the only one that
  // could reach past it: references do not overlap.
  size_t i = FirstAt(limit);
  if (i == 0) return limit;
  const PeReference& last = references[i - 1];
  const uint64_t end = uint64_t(last.location) + ReferenceWidth(last.Kind());
  if (last.location < position || end <= limit || end > copyEnd) return limit;
  return last.location > position ? last.location : end;
}

void ReferenceModel::Predict(uint64_t position, size_t length, uint64_t copyEnd, uint64_t shift,
                             unsigned char* bytes) const {
  const uint64_t pieceEnd = position + length;
  const uint64_t end = pieceEnd < copyEnd ? pieceEnd : copyEnd;
  const uint64_t baseShift = newLayout.imageBase - oldLayout.imageBase;
  RvaCursor oldPlaces, newPlaces;
  for (size_t i = FirstAt(position); i < references.Size(); ++i) {
    // Targets lie all over the image, and so do their slots in the cache:
    // the slot of a reference a few ahead is fetched meanwhile.
    if (cache_ && i + kTargetsAhead < references.Size()) {
      PrefetchForRead(&cache_[CacheSlot(references[i + kTargetsAhead].Target())]);
    }
    const PeReference& reference = references[i];
    const ReferenceKind kind = reference.Kind();
    const size_t width = ReferenceWidth(kind);
    if (uint64_t(reference.location) + width > end) break;
    unsigned char* at = bytes + (reference.location - position);
    uint64_t value = ReadLe(at, width);
    const uint32_t target = reference.Target();
    if (target != REFERENCE_NO_TARGET) value += uint64_t(int64_t(MapTarget(target)) - target);
    if (kind == ReferenceKind::Relative) {
      uint32_t oldPlace = 0, newPlace = 0;
      if (!oldPlaces.Map(oldLayout, reference.location, &oldPlace) ||
          !newPlaces.Map(newLayout, reference.location + shift, &newPlace)) {
        continue;
      }
      value -= uint64_t(newPlace) - oldPlace;
    } else if (kind != ReferenceKind::Rva) {
      value += baseShift;
    }
    WriteLe(at, width, value);
  }
}

bool ReferenceModel::AddMovedRelocations(uint64_t oldStart, uint64_t length, uint64_t newStart,
                                         GrowableArray<uint32_t>* entries) const {
  const uint64_t end = oldStart + length;
  // The absolute references kept apart, else all of them.
  const GrowableArray<PeReference>& table = pointersApart_ ? pointers_ : references;
  const PeReference* first =
      table.begin() +
      (pointersApart_ ? pointerIndex_ : index_).First(oldStart, table.Size(), [&table](size_t i) {
        return uint64_t(table[i].location);
      });
  RvaCursor newPlaces;
  for (const PeReference* reference = first; reference != table.end(); ++reference) {
    const ReferenceKind kind = reference->Kind();
    if (uint64_t(reference->location) + ReferenceWidth(kind) > end) break;
    if (kind != ReferenceKind::Absolute32 && kind != ReferenceKind::Absolute64) continue;
    uint32_t place = 0;
    if (!newPlaces.Map(newLayout, reference->location - oldStart + newStart, &place) ||
        place > RELOCATION_RVA_MASK) {
      continue;
    }
    const uint32_t wide = kind == ReferenceKind::Absolute64 ? RELOCATION_WIDE : 0;
    if (!entries->Push(place | wide)) return false;
  }
  return true;
}
