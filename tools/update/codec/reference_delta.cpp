#include "update/codec/reference_delta.h"

#include <cstring>

#include "update/codec/relocation_table.h"
#include "update/codec/varint.h"

namespace {

// A rebuilt relocation table larger than this is a lie (the decoder would
// have refused the entries that make it before).
constexpr uint64_t kRelocationSizeMax = uint64_t(1) << 32;

// One field of a section: the old section's value (or 0) plus a signed
// difference, which must land in 32 bits.
DecodeError Field(StreamReader& control, uint32_t reference, uint32_t* value) {
  uint64_t number = 0;
  if (DecodeError error = control.Number(&number); error != DecodeError::None) return error;
  // A difference beyond 32 bits either way lands outside them from any
  // reference; refused before the sum, which it could overflow.
  const int64_t difference = ZigzagDecode(number);
  if (difference > int64_t(UINT32_MAX) || difference < -int64_t(UINT32_MAX)) {
    return DecodeError::PeLayoutBad;
  }
  const int64_t result = int64_t(reference) + difference;
  if (result < 0 || result > int64_t(UINT32_MAX)) return DecodeError::PeLayoutBad;
  *value = static_cast<uint32_t>(result);
  return DecodeError::None;
}

DecodeError ReadSections(StreamReader& control, const PeLayout& oldLayout, PeLayout* newLayout) {
  uint64_t count = 0;
  if (DecodeError error = control.Number(&count); error != DecodeError::None) return error;
  if (count > PE_SECTIONS_MAX) return DecodeError::PeLayoutBad;
  for (uint64_t i = 0; i < count; ++i) {
    PeSection old;
    if (i < oldLayout.sections.size()) old = oldLayout.sections[static_cast<size_t>(i)];
    PeSection section;
    DecodeError error = Field(control, old.address, &section.address);
    if (error == DecodeError::None) error = Field(control, old.virtualSize, &section.virtualSize);
    if (error == DecodeError::None) error = Field(control, old.rawOffset, &section.rawOffset);
    if (error == DecodeError::None) error = Field(control, old.rawSize, &section.rawSize);
    if (error != DecodeError::None) return error;
    if (section.address > PE_IMAGE_SIZE_MAX || section.virtualSize > PE_IMAGE_SIZE_MAX ||
        section.rawSize > PE_IMAGE_SIZE_MAX) {
      return DecodeError::PeLayoutBad;
    }
    if (newLayout != nullptr) newLayout->sections.push_back(section);
  }
  return DecodeError::None;
}

// Per old section: its shift's difference from the default and whether the
// copies place its targets.
DecodeError ReadSectionShifts(StreamReader& control, const PeLayout& oldLayout,
                              ReferenceModel* model) {
  if (model != nullptr) {
    model->sectionShifts.clear();
    model->byCopies.clear();
  }
  for (size_t i = 0; i < oldLayout.sections.size(); ++i) {
    uint64_t number = 0;
    if (DecodeError error = control.Number(&number); error != DecodeError::None) return error;
    const int64_t change = ZigzagDecode(number >> 1);
    if (change > int64_t(UINT32_MAX) || change < -int64_t(UINT32_MAX)) {
      return DecodeError::PeLayoutBad;
    }
    if (model != nullptr) {
      model->sectionShifts.push_back(model->DefaultSectionShift(i) + static_cast<uint32_t>(change));
      model->byCopies.push_back((number & 1) == 0 ? 1 : 0);
    }
  }
  return DecodeError::None;
}

DecodeError ReadCorrections(StreamReader& control, size_t referenceCount, ReferenceModel* model) {
  uint64_t count = 0;
  if (DecodeError error = control.Number(&count); error != DecodeError::None) return error;
  // Each corrects the target of at least one reference.
  if (count > referenceCount) return DecodeError::PeCorrectionBad;
  if (model != nullptr && !model->corrections.Reserve(static_cast<size_t>(count))) {
    return DecodeError::OutOfMemory;
  }
  uint64_t target = 0;
  int64_t shift = 0;
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t gap = 0, change = 0;
    DecodeError error = control.Number(&gap);
    if (error == DecodeError::None) error = control.Number(&change);
    if (error != DecodeError::None) return error;
    // Strictly rising targets: after the first, the gap counts from one.
    const uint64_t step = i == 0 ? 0 : 1;
    if (gap >= PE_IMAGE_SIZE_MAX || target + gap + step >= REFERENCE_NO_TARGET) {
      return DecodeError::PeCorrectionBad;
    }
    target += gap + step;
    // The shifts before and after it lie within 32 bits either way (the
    // previous one is checked below), so a change of more than twice that is
    // refused before it is added, and the sum cannot overflow. Not less:
    // from a target moved up to the top to a higher one moved down to 0,
    // a shift changes by more than 32 bits hold.
    const int64_t delta = ZigzagDecode(change);
    if (delta > 2 * int64_t(UINT32_MAX) || delta < -2 * int64_t(UINT32_MAX)) {
      return DecodeError::PeCorrectionBad;
    }
    shift += delta;
    const int64_t moved = int64_t(target) + shift;
    if (shift > int64_t(UINT32_MAX) || shift < -int64_t(UINT32_MAX) || moved < 0 ||
        moved > int64_t(UINT32_MAX)) {
      return DecodeError::PeCorrectionBad;
    }
    if (model != nullptr) {
      model->corrections.Push(
          TargetCorrection{static_cast<uint32_t>(target), static_cast<uint32_t>(moved)});
    }
  }
  return DecodeError::None;
}

}  // namespace

DecodeError ReadReferencePreamble(StreamReader& control, const PeLayout& oldLayout,
                                  size_t referenceCount, ReferenceModel* model,
                                  uint64_t* relocationSize) {
  uint64_t base = 0;
  if (DecodeError error = control.Number(&base); error != DecodeError::None) return error;
  PeLayout* newLayout = model != nullptr ? &model->newLayout : nullptr;
  if (newLayout != nullptr) {
    newLayout->machine = oldLayout.machine;
    newLayout->imageBase = oldLayout.imageBase + static_cast<uint64_t>(ZigzagDecode(base));
    newLayout->sections.clear();
  }
  if (DecodeError error = ReadSections(control, oldLayout, newLayout); error != DecodeError::None) {
    return error;
  }
  if (DecodeError error = ReadSectionShifts(control, oldLayout, model);
      error != DecodeError::None) {
    return error;
  }
  if (DecodeError error = control.Number(relocationSize); error != DecodeError::None) return error;
  if (*relocationSize > kRelocationSizeMax) return DecodeError::PeRelocationSize;
  return ReadCorrections(control, referenceCount, model);
}

DecodeError ReferenceDelta::Load(ByteSource* installed, WorkerThread* worker) {
  if (installed == nullptr || !ReadPeLayout(*installed, &model.oldLayout)) {
    return DecodeError::PeSourceRefused;
  }
  installed_ = installed;
  installedSize_ = installed->Size();
  ReferenceScanHelp help;
  help.worker = worker;
  switch (FindPeReferences(*installed, model.oldLayout, &model.references, help)) {
    case ReferenceScan::Done:
      break;
    case ReferenceScan::Unreadable:
      return DecodeError::SourceUnreadable;
    case ReferenceScan::OutOfMemory:
      return DecodeError::OutOfMemory;
    case ReferenceScan::TooMany:
      return DecodeError::PeSourceRefused;
  }
  model.IndexReferences();
  return DecodeError::None;
}

DecodeError ReferenceDelta::SkipPreamble(StreamReader& control) const {
  uint64_t relocationSize = 0;
  return ReadReferencePreamble(control, model.oldLayout, model.references.Size(), nullptr,
                               &relocationSize);
}

DecodeError ReferenceDelta::Prepare(ByteStream& firstReading, uint64_t decodedSize,
                                    GatheredCopies* gathered) {
  StreamReader control(firstReading, DecodeError::ControlNumber);
  DecodeError error = ReadReferencePreamble(control, model.oldLayout, model.references.Size(),
                                            &model, &relocationSize_);
  if (error != DecodeError::None) return error;
  // The commands: where the copies moved the old file, and with it its
  // pointers, which the new relocation table lists.
  GrowableArray<uint32_t> moved;
  CommandReader reader(control, installedSize_ + relocationSize_, decodedSize);
  CommandLookahead commands(reader);
  while (!commands.Done()) {
    Command command;
    if ((error = commands.Next(&command)) != DecodeError::None) return error;
    const uint64_t position = command.position, copy = command.copy;
    if (const Command* following = commands.Following()) {
      model.PrefetchPointers(following->position);
    }
    if (!model.copies.Add(position, command.newStart, copy) || !gathered->Add(position, copy)) {
      return DecodeError::OutOfMemory;
    }
    if (position < installedSize_) {
      const uint64_t inside = installedSize_ - position < copy ? installedSize_ - position : copy;
      if (!model.AddMovedRelocations(position, inside, command.newStart, &moved)) {
        return DecodeError::OutOfMemory;
      }
      if (moved.Size() > PE_REFERENCES_MAX) return DecodeError::PeRelocationSize;
    }
  }
  model.copies.Finish();
  const size_t count = SortRelocations(moved.Data(), moved.Size());
  if (RelocationTableSize(moved.Data(), count) != relocationSize_) {
    return DecodeError::PeRelocationSize;
  }
  relocations_ = AllocateDecodeBuffer(static_cast<size_t>(relocationSize_));
  if (!relocations_) return DecodeError::OutOfMemory;
  WriteRelocationTable(moved.Data(), count, relocations_.get());
  // The model is complete; without the cache it is only slower.
  model.CacheTargets(true);
  return DecodeError::None;
}

bool ReferenceDelta::ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* bytesRead) {
  unsigned char* out = static_cast<unsigned char*>(buffer);
  *bytesRead = 0;
  if (offset < installedSize_) {
    const uint64_t left = installedSize_ - offset;
    const uint32_t part = static_cast<uint32_t>(length < left ? length : left);
    uint32_t got = 0;
    if (!installed_->ReadAt(offset, out, part, &got)) return false;
    *bytesRead = got;
    if (got != part) return true;
    offset += part;
    out += part;
    length -= part;
  }
  if (length == 0 || offset >= Size()) return true;
  const uint64_t at = offset - installedSize_;
  const uint64_t left = relocationSize_ - at;
  const uint32_t part = static_cast<uint32_t>(length < left ? length : left);
  std::memcpy(out, relocations_.get() + at, part);
  *bytesRead += part;
  return true;
}
