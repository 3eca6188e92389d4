// How the references of the old file's copied bytes become the new file's
// (delta filter 2, delta_format.h): the one prediction the encoder and the
// decoder share, so that a reference whose target only moved costs nothing.
//
// A target (an RVA of the old image) maps to the new image's RVA by, in turn:
//   1. a correction the delta carries for that very target (label matching:
//      the encoder saw the old target's references become references to
//      that new target);
//   2. the copies, unless the delta says its section's targets do not go by
//      them: the target's file position moved as far as the copy that holds
//      it (CopyIndex), read back as an RVA of the new layout, when that lies
//      in the new section of the same index (sections keep their order; a
//      copy of zeros or of a table can land anywhere);
//   3. its section: any other target (zero-filled data without file bytes
//      among them) moves by its old section's shift, which the delta carries
//      (by default as far as the section of the same index);
//   4. itself.
// A reference entirely inside a copy is then rewritten for its new place:
//   relative   value + (new target - old target) - (new place - old place),
//              places and targets as RVAs;
//   absolute   value + (new target - old target) + (new base - old base);
//   RVA        value + (new target - old target).
// The delta's differences carry what the prediction missed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "update/base/prefetch.h"
#include "update/codec/growable_array.h"
#include "update/codec/pe_layout.h"
#include "update/codec/pe_references.h"

// At most this many copies take part in the projection (16 bytes each).
constexpr size_t PE_COPIES_MAX = size_t(1) << 20;

// Where each KiB of the file starts among items sorted by their place in
// it (4 bytes per KiB up to the last item's): a search for a place looks
// among the few dozen items of its KiB, not all of them. A delta has
// hundreds of thousands of copies, each looking up its references and
// targets.
class KiBIndex {
 public:
  // For `count` items, `placeOf(i)` the place of item i, rising. Without
  // the memory the index is empty.
  template <typename PlaceOf>
  void Build(size_t count, PlaceOf placeOf) {
    buckets_.reset();
    bucketCount_ = 0;
    if (count == 0) return;
    // One bucket more than the last item's: its start lies past them all.
    const size_t buckets = static_cast<size_t>(placeOf(count - 1) >> kBits) + 2;
    buckets_.reset(new (std::nothrow) uint32_t[buckets]);
    if (!buckets_) return;
    size_t i = 0;
    for (size_t bucket = 0; bucket < buckets; ++bucket) {
      while (i < count && placeOf(i) < uint64_t(bucket) << kBits) ++i;
      buckets_[bucket] = static_cast<uint32_t>(i);
    }
    bucketCount_ = buckets;
  }
  // The items [*low, *high) of `count` that can start at or after the KiB of
  // `place` and before the next (all of them without an index; none past
  // the last).
  void Range(uint64_t place, size_t count, size_t* low, size_t* high) const {
    *low = 0;
    *high = count;
    if (bucketCount_ == 0) return;
    const uint64_t bucket = place >> kBits;
    if (bucket + 1 >= bucketCount_) {
      *low = count;
      return;
    }
    *low = buckets_[bucket];
    *high = buckets_[bucket + 1];
  }
  // Fetches into the cache the items First will look at for `place`:
  // those of its KiB, up to kPrefetchBytes of them, `addressOf(i)` the
  // address of item i.
  template <typename AddressOf>
  void Prefetch(uint64_t place, size_t count, AddressOf addressOf) const {
    size_t low = 0, high = 0;
    Range(place, count, &low, &high);
    if (bucketCount_ == 0 || low >= high) return;
    const char* first = reinterpret_cast<const char*>(addressOf(low));
    const char* last = reinterpret_cast<const char*>(addressOf(high - 1));
    const size_t span = static_cast<size_t>(last - first);
    for (size_t offset = 0; offset < span && offset < kPrefetchBytes; offset += kLine) {
      PrefetchForRead(first + offset);
    }
    // The last item's line, where `first` does not start a line.
    if (span < kPrefetchBytes) PrefetchForRead(last);
  }
  // The first of `count` items whose place is at or after `place` (count
  // when none is), searched for among its KiB's. The search halves the
  // range by a choice, not a branch: which half holds the place is a coin
  // the processor cannot guess, and this runs for every copy and target.
  template <typename PlaceOf>
  size_t First(uint64_t place, size_t count, PlaceOf placeOf) const {
    size_t low = 0, high = 0;
    Range(place, count, &low, &high);
    if (low == high) return low;
    size_t length = high - low;
    while (length > 1) {
      const size_t half = length / 2;
      low = placeOf(low + half) < place ? low + half : low;
      length -= half;
    }
    return low + (placeOf(low) < place ? 1 : 0);
  }

 private:
  static constexpr unsigned kBits = 10;
  static constexpr size_t kLine = 64;
  static constexpr size_t kPrefetchBytes = 16 * kLine;
  std::unique_ptr<uint32_t[]> buckets_;
  size_t bucketCount_ = 0;
};

// Where the copies took the old file: for a position, the copy that holds it
// (of the copies at least `minimumLength` long, in the first PE_COPIES_MAX
// from the source's first 2 GiB).
class CopyIndex {
 public:
  explicit CopyIndex(uint64_t minimumLength) : minimumLength_(minimumLength) {}

  // Called for every copy in command order. False when memory ran out.
  bool Add(uint64_t oldStart, uint64_t newStart, uint64_t length);
  // Call once after the last Add: sorts the copies and indexes them by
  // KiB of the file (4 bytes per KiB up to the last copy's start; without
  // the memory ShiftAt searches them all).
  void Finish();
  // How far `position` moved (new minus old, modulo 2^32): as the copy that
  // holds it and starts last among the nearest, else the one of all that
  // reaches furthest, else as the nearest copy before it; 0 before all.
  uint32_t ShiftAt(uint64_t position) const;
  uint64_t MinimumLength() const { return minimumLength_; }

 private:
  struct Entry {
    uint32_t oldStart;
    uint32_t length;
    uint32_t shift;
    uint32_t order;  // of the command; later, the index of the entry reaching furthest so far
  };
  uint64_t minimumLength_;
  GrowableArray<Entry> entries_;
  KiBIndex index_;
};

struct TargetCorrection {
  uint32_t oldTarget;
  uint32_t newTarget;
};

class ReferenceModel {
 public:
  explicit ReferenceModel(uint64_t mapMinimum) : copies(mapMinimum) {}

  PeLayout oldLayout;
  PeLayout newLayout;                           // as the delta describes the new file
  GrowableArray<PeReference> references;        // the old file's, by location
  GrowableArray<TargetCorrection> corrections;  // by old target, each once
  CopyIndex copies;                             // where the copies moved the old file
  // Per old section: how far the targets the copies do not place move, and
  // whether the copies place any of them.
  std::vector<uint32_t> sectionShifts;
  std::vector<uint8_t> byCopies;

  // The new RVA of old target `target`.
  uint32_t MapTarget(uint32_t target) const;
  // Once the model is complete: remember recent targets' new RVAs (many
  // references share a target); off again before the model changes. False
  // when the memory cannot be had (the model then works without).
  bool CacheTargets(bool on);
  // Step 2 alone: where the copies put `target`, if they place it.
  bool Project(uint32_t target, uint32_t* moved) const;
  // How far old section `section`'s targets move when the copies do not
  // place them, unless the delta says otherwise: as far as the new section
  // of the same index.
  uint32_t DefaultSectionShift(size_t section) const;
  // Once `references` is complete: an index of where each KiB of the file
  // starts among them (4 bytes per KiB of the file up to its last
  // reference), for FirstAt, and the absolute ones apart (8 bytes each, with
  // their own index), for AddMovedRelocations; call it again after they
  // change. Without the memory both search the whole table.
  void IndexReferences();
  // The first reference at or after file position `position`.
  size_t FirstAt(uint64_t position) const;
  // Fetch into the cache what Predict (its FirstAt) and AddMovedRelocations
  // for a copy from `position` will read first: called a copy ahead, while
  // the one before is made.
  void PrefetchReferences(uint64_t position) const;
  void PrefetchPointers(uint64_t position) const;
  // Where a piece [position, limit) of a copy that ends at `copyEnd` must end
  // so that it cuts no reference the prediction rewrites.
  uint64_t PieceEnd(uint64_t position, uint64_t limit, uint64_t copyEnd) const;
  // Rewrites, in place, the references in `bytes` (the old file's bytes at
  // [position, position + length), part of a copy that ends at `copyEnd` and
  // was moved by `shift`, new position minus old, modulo 2^64). Only
  // references wholly inside the piece and the copy are touched.
  void Predict(uint64_t position, size_t length, uint64_t copyEnd, uint64_t shift,
               unsigned char* bytes) const;
  // Adds the relocation entries (relocation_table.h) of the absolute
  // references inside the copy [oldStart, oldStart + length) at their new
  // places (`newStart` on). False when `entries` could not grow.
  bool AddMovedRelocations(uint64_t oldStart, uint64_t length, uint64_t newStart,
                           GrowableArray<uint32_t>* entries) const;

 private:
  uint32_t MapUncached(uint32_t target) const;
  static size_t CacheSlot(uint32_t target);

  struct CachedTarget {
    uint32_t target;  // plus one; 0 for none
    uint32_t moved;
  };
  std::unique_ptr<CachedTarget[]> cache_;
  // Where the last targets fell: most lie in one section of code. Mutable
  // as the cache is (the model is used by one thread), and forgotten with
  // it: the layouts may change while it is off.
  struct Cursors {
    SectionCursor oldSections, newSections;
    OffsetCursor oldOffsets;
    RvaCursor newRvas;
  };
  mutable Cursors cursors_;
  // Of the corrections, by KiB of their old target, while the cache is on
  // (4 bytes per KiB of the old image up to the last corrected target).
  KiBIndex correctionIndex_;
  KiBIndex index_;  // of the references
  // The absolute references alone: the relocation table is rebuilt from
  // them, copy by copy, before the first byte is made.
  GrowableArray<PeReference> pointers_;
  KiBIndex pointerIndex_;
  bool pointersApart_ = false;
};
