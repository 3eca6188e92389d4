#include "mkpatch/codec/reference_streams.h"
#include "mkpatch/codec/suffix_index.h"
#include "mkpatch/codec/varint_write.h"

#include <algorithm>
#include <new>
#include <utility>

#include "update/base/byte_source.h"
#include "update/codec/delta_format.h"
#include "update/codec/pe_reference_model.h"
#include "update/codec/relocation_table.h"

namespace {

// A correction costs a few bytes in the control stream; it must set right
// more references than the copies already predict right to pay for itself.
const size_t kCorrectionGain = 2;

bool ReadImage(const unsigned char* bytes, size_t size, PeLayout* layout,
               GrowableArray<PeReference>* references) {
  if (!ParsePeLayout(bytes, size < PE_HEADERS_READ ? size : PE_HEADERS_READ, size, layout)) {
    return false;
  }
  MemoryByteSource source(bytes, size);
  switch (FindPeReferences(source, *layout, references)) {
    case ReferenceScan::Done:
      return true;
    case ReferenceScan::OutOfMemory:
      throw std::bad_alloc();
    case ReferenceScan::Unreadable:
    case ReferenceScan::TooMany:
      break;
  }
  return false;
}

// The copy map the decoder makes from the commands.
void MapCopies(const std::vector<DeltaCommand>& commands, ReferenceModel* model) {
  model->copies = CopyIndex(model->copies.MinimumLength());
  uint64_t newPosition = 0;
  for (const DeltaCommand& command : commands) {
    if (!model->copies.Add(command.oldPosition, newPosition, command.copy)) throw std::bad_alloc();
    newPosition += command.copy + command.insert;
  }
  model->copies.Finish();
}

// The relocation table the decoder builds from the commands' copies of the
// old file.
std::vector<unsigned char> MovedRelocations(const ReferenceModel& model, size_t oldSize,
                                            const std::vector<DeltaCommand>& commands) {
  GrowableArray<uint32_t> entries;
  uint64_t newPosition = 0;
  for (const DeltaCommand& command : commands) {
    if (command.oldPosition < oldSize) {
      const uint64_t inside = std::min<uint64_t>(command.copy, oldSize - command.oldPosition);
      if (!model.AddMovedRelocations(command.oldPosition, inside, newPosition, &entries)) {
        throw std::bad_alloc();
      }
    }
    newPosition += command.copy + command.insert;
  }
  const size_t count = SortRelocations(entries.Data(), entries.Size());
  std::vector<unsigned char> table(static_cast<size_t>(RelocationTableSize(entries.Data(), count)));
  WriteRelocationTable(entries.Data(), count, table.data());
  return table;
}

// Copies that read past the table the decoder will build give up their
// tail as inserted bytes.
void ClipToSource(std::vector<DeltaCommand>& commands, uint64_t sourceSize) {
  for (DeltaCommand& command : commands) {
    if (command.copy == 0 || command.oldPosition + command.copy <= sourceSize) continue;
    const uint64_t keep = command.oldPosition < sourceSize ? sourceSize - command.oldPosition : 0;
    command.insert += command.copy - keep;
    command.copy = keep;
  }
}

using TargetPairs = std::vector<std::pair<uint32_t, uint32_t>>;

// Label matching: where the copies turned an old reference into a new one
// of the same kind, its old target became the new one's. The pairs of old
// and new targets, sorted.
TargetPairs MatchTargets(const ReferenceModel& model, size_t oldSize,
                         const GrowableArray<PeReference>& newReferences,
                         const std::vector<DeltaCommand>& commands) {
  TargetPairs pairs;
  uint64_t newPosition = 0;
  for (const DeltaCommand& command : commands) {
    const uint64_t end = std::min<uint64_t>(command.oldPosition + command.copy, oldSize);
    for (size_t i = model.FirstAt(command.oldPosition); i < model.references.Size(); ++i) {
      const PeReference& old = model.references[i];
      if (old.location + ReferenceWidth(old.Kind()) > end) break;
      if (old.Target() == REFERENCE_NO_TARGET) continue;
      const uint64_t place = old.location - command.oldPosition + newPosition;
      const PeReference* found =
          std::lower_bound(newReferences.begin(), newReferences.end(), place,
                           [](const PeReference& r, uint64_t at) { return r.location < at; });
      if (found == newReferences.end() || found->location != place || found->Kind() != old.Kind() ||
          found->Target() == REFERENCE_NO_TARGET) {
        continue;
      }
      pairs.emplace_back(old.Target(), found->Target());
    }
    newPosition += command.copy + command.insert;
  }
  std::sort(pairs.begin(), pairs.end());
  return pairs;
}

// The most common value of `values` (sorted) and how often it comes; on a
// tie, `preferred`, else the smallest.
std::pair<uint32_t, size_t> MostCommon(const std::vector<uint32_t>& values, uint32_t preferred) {
  std::pair<uint32_t, size_t> best(preferred, 0);
  for (size_t first = 0; first < values.size();) {
    size_t end = first;
    while (end < values.size() && values[end] == values[first]) ++end;
    const size_t count = end - first;
    if (count > best.second || (count == best.second && values[first] == preferred)) {
      best = {values[first], count};
    }
    first = end;
  }
  return best;
}

// Per section: whether its matched targets are better placed by the copies
// (then by a shift where the copies do not place them) or by one shift for
// all, and that shift: the one most of them took.
void ChooseSectionShifts(const TargetPairs& pairs, ReferenceModel* model) {
  const size_t count = model->oldLayout.sections.size();
  std::vector<std::vector<uint32_t>> all(count), unplaced(count);
  std::vector<size_t> placedRight(count, 0);
  for (const auto& pair : pairs) {
    const int section = model->oldLayout.SectionOf(pair.first);
    if (section < 0) continue;
    all[section].push_back(pair.second - pair.first);
    uint32_t moved = 0;
    if (!model->Project(pair.first, &moved)) {
      unplaced[section].push_back(pair.second - pair.first);
    } else if (moved == pair.second) {
      ++placedRight[section];
    }
  }
  model->sectionShifts.assign(count, 0);
  model->byCopies.assign(count, 1);
  for (size_t i = 0; i < count; ++i) {
    std::sort(all[i].begin(), all[i].end());
    std::sort(unplaced[i].begin(), unplaced[i].end());
    const uint32_t preferred = model->DefaultSectionShift(i);
    const auto withCopies = MostCommon(unplaced[i], preferred);
    const auto alone = MostCommon(all[i], preferred);
    if (alone.second > placedRight[i] + withCopies.second) {
      model->byCopies[i] = 0;
      model->sectionShifts[i] = alone.first;
    } else {
      model->sectionShifts[i] = withCopies.first;
    }
  }
}

// A target whose references mostly went somewhere the projection does not
// say gets a correction.
std::vector<TargetCorrection> ChooseCorrections(const ReferenceModel& model,
                                                const TargetPairs& pairs) {
  std::vector<TargetCorrection> corrections;
  for (size_t first = 0; first < pairs.size();) {
    const uint32_t target = pairs[first].first;
    const uint32_t projected = model.MapTarget(target);
    size_t bestCount = 0, projectedCount = 0;
    uint32_t best = 0;
    size_t i = first;
    while (i < pairs.size() && pairs[i].first == target) {
      size_t run = i;
      while (run < pairs.size() && pairs[run] == pairs[i]) ++run;
      const size_t count = run - i;
      if (count > bestCount) {
        bestCount = count;
        best = pairs[i].second;
      }
      if (pairs[i].second == projected) projectedCount = count;
      i = run;
    }
    if (best != projected && bestCount >= projectedCount + kCorrectionGain) {
      corrections.push_back(TargetCorrection{target, best});
    }
    first = i;
  }
  return corrections;
}

void AppendSigned(std::vector<unsigned char>& out, int64_t value) {
  AppendVarint(out, ZigzagEncode(value));
}

std::vector<unsigned char> Preamble(const ReferenceModel& model, uint64_t relocationSize) {
  std::vector<unsigned char> out;
  AppendSigned(out, static_cast<int64_t>(model.newLayout.imageBase - model.oldLayout.imageBase));
  AppendVarint(out, model.newLayout.sections.size());
  for (size_t i = 0; i < model.newLayout.sections.size(); ++i) {
    PeSection old;
    if (i < model.oldLayout.sections.size()) old = model.oldLayout.sections[i];
    const PeSection& section = model.newLayout.sections[i];
    AppendSigned(out, int64_t(section.address) - old.address);
    AppendSigned(out, int64_t(section.virtualSize) - old.virtualSize);
    AppendSigned(out, int64_t(section.rawOffset) - old.rawOffset);
    AppendSigned(out, int64_t(section.rawSize) - old.rawSize);
  }
  for (size_t i = 0; i < model.oldLayout.sections.size(); ++i) {
    const int32_t change =
        static_cast<int32_t>(model.sectionShifts[i] - model.DefaultSectionShift(i));
    AppendVarint(out, ZigzagEncode(change) << 1 | (model.byCopies[i] != 0 ? 0 : 1));
  }
  AppendVarint(out, relocationSize);
  AppendVarint(out, model.corrections.Size());
  uint32_t previous = 0;
  int64_t previousShift = 0;
  for (size_t i = 0; i < model.corrections.Size(); ++i) {
    const TargetCorrection& correction = model.corrections[i];
    AppendVarint(out, i == 0 ? correction.oldTarget : correction.oldTarget - previous - 1);
    const int64_t shift = int64_t(correction.newTarget) - correction.oldTarget;
    AppendSigned(out, shift - previousShift);
    previous = correction.oldTarget;
    previousShift = shift;
  }
  return out;
}

// The file as the alignment sees it: every reference replaced by a digest of
// the bytes at its target (with the references there blanked, so that the
// digest does not change when they move), so that code which differs only in
// where its references point (everything after inserted code) matches
// exactly, and the copies break where the code really changed. The copies'
// bytes are then predicted and differenced from the real file.
std::vector<unsigned char> Normalized(const unsigned char* bytes, size_t size,
                                      const PeLayout& layout,
                                      const GrowableArray<PeReference>& references) {
  std::vector<unsigned char> blank(bytes, bytes + size);
  for (const PeReference& reference : references) {
    const size_t width = ReferenceWidth(reference.Kind());
    std::fill_n(blank.begin() + reference.location, width, static_cast<unsigned char>(0xE0));
  }
  std::vector<unsigned char> out = blank;
  for (const PeReference& reference : references) {
    const uint32_t target = reference.Target();
    if (target == REFERENCE_NO_TARGET) continue;
    uint32_t digest = 2166136261u ^ static_cast<uint32_t>(reference.Kind());
    uint32_t offset = 0;
    if (layout.RvaToOffset(target, &offset)) {
      for (size_t k = 0; k < 8 && offset + k < size; ++k) {
        digest = (digest ^ blank[offset + k]) * 16777619u;
      }
    } else {
      const int section = layout.SectionOf(target);
      const uint32_t inside = section >= 0 ? target - layout.sections[section].address : target;
      digest = (digest ^ static_cast<uint32_t>(section)) * 16777619u;
      digest = (digest ^ inside) * 16777619u;
    }
    const size_t width = ReferenceWidth(reference.Kind());
    for (size_t k = 0; k < width; ++k) {
      out[reference.location + k] = static_cast<unsigned char>(digest >> (8 * (k % 4)));
    }
  }
  return out;
}

std::vector<unsigned char> Joined(const unsigned char* old, size_t oldSize,
                                  const std::vector<unsigned char>& table) {
  std::vector<unsigned char> joined(old, old + oldSize);
  joined.insert(joined.end(), table.begin(), table.end());
  return joined;
}

// Commands as pieces of the new file, each copied from one place or inserted.
struct Piece {
  uint64_t newStart;
  uint64_t length;
  uint64_t oldStart;
  bool copied;
};

std::vector<Piece> Pieces(const std::vector<DeltaCommand>& commands, uint64_t oldOffset,
                          uint64_t newOffset) {
  std::vector<Piece> pieces;
  uint64_t at = newOffset;
  for (const DeltaCommand& command : commands) {
    if (command.copy > 0)
      pieces.push_back({at, command.copy, command.oldPosition + oldOffset, true});
    if (command.insert > 0) pieces.push_back({at + command.copy, command.insert, 0, false});
    at += command.copy + command.insert;
  }
  return pieces;
}

std::vector<DeltaCommand> Commands(const std::vector<Piece>& pieces) {
  std::vector<DeltaCommand> commands;
  uint64_t position = 0;
  for (const Piece& piece : pieces) {
    if (piece.length == 0) continue;
    if (!piece.copied) {
      if (commands.empty()) commands.push_back({position, 0, 0});
      commands.back().insert += piece.length;
    } else {
      commands.push_back({piece.oldStart, piece.length, 0});
      position = piece.oldStart + piece.length;
    }
  }
  return commands;
}

// The alignment with [begin, end) of the new file made of `region` instead.
std::vector<DeltaCommand> Spliced(const std::vector<DeltaCommand>& commands, uint64_t begin,
                                  uint64_t end, const std::vector<Piece>& region) {
  std::vector<Piece> pieces;
  for (Piece piece : Pieces(commands, 0, 0)) {
    const uint64_t pieceEnd = piece.newStart + piece.length;
    if (pieceEnd <= begin || piece.newStart >= end) {
      pieces.push_back(piece);
      continue;
    }
    if (piece.newStart < begin) {  // the part before the region
      pieces.push_back({piece.newStart, begin - piece.newStart, piece.oldStart, piece.copied});
    }
    if (pieceEnd > end) {  // the part after it, kept for after the region's pieces
      const uint64_t skip = end - piece.newStart;
      pieces.push_back({end, pieceEnd - end, piece.oldStart + skip, piece.copied});
    }
  }
  pieces.insert(pieces.end(), region.begin(), region.end());
  std::sort(pieces.begin(), pieces.end(),
            [](const Piece& a, const Piece& b) { return a.newStart < b.newStart; });
  return Commands(pieces);
}

}  // namespace

bool ReferenceEncoder::Open(const unsigned char* old, size_t oldSize, const unsigned char* target,
                            size_t targetSize) {
  old_ = old;
  oldSize_ = oldSize;
  target_ = target;
  targetSize_ = targetSize;
  model_.reset(new ReferenceModel(0));
  if (!ReadImage(old, oldSize, &model_->oldLayout, &model_->references) ||
      !ReadImage(target, targetSize, &model_->newLayout, &newReferences_) ||
      model_->newLayout.machine != model_->oldLayout.machine) {
    model_.reset();
    return false;
  }
  model_->IndexReferences();
  alignedOld_ = Normalized(old, oldSize, model_->oldLayout, model_->references);
  alignedNew_ = Normalized(target, targetSize, model_->newLayout, newReferences_);
  return true;
}

ReferenceEncoder::~ReferenceEncoder() = default;

DeltaStreams ReferenceEncoder::Write(const std::vector<DeltaCommand>& aligned, uint64_t mapMinimum,
                                     ReferenceStreamsReport* report) {
  ReferenceModel& model = *model_;
  model.CacheTargets(false);
  model.copies = CopyIndex(mapMinimum);
  model.corrections.Truncate(0);
  // The new file's own relocation table is aligned against the table the
  // decoder builds from the copies, which follows the old file.
  std::vector<DeltaCommand> commands = aligned;
  std::vector<unsigned char> table = MovedRelocations(model, oldSize_, commands);
  uint32_t begin = 0;
  const PeDirectory& relocations = model.newLayout.relocations;
  if (!table.empty() && relocations.size != 0 &&
      model.newLayout.RvaToOffset(relocations.address, &begin)) {
    const uint64_t end = std::min<uint64_t>(uint64_t(begin) + relocations.size, targetSize_);
    const SuffixIndex index(table.data(), table.size());
    const std::vector<DeltaCommand> region = AlignFiles(
        index, target_ + begin, static_cast<size_t>(end - begin), AlignOptions(), nullptr);
    commands = Spliced(commands, begin, end, Pieces(region, oldSize_, begin));
    // The copies cut at the region's edges may have left pointers behind:
    // what a copy reads of the table is predicted by whatever it holds now.
    table = MovedRelocations(model, oldSize_, commands);
    ClipToSource(commands, oldSize_ + table.size());
  }
  MapCopies(commands, &model);
  const TargetPairs pairs = MatchTargets(model, oldSize_, newReferences_, commands);
  ChooseSectionShifts(pairs, &model);
  for (const TargetCorrection& correction : ChooseCorrections(model, pairs)) {
    if (!model.corrections.Push(correction)) throw std::bad_alloc();
  }
  const std::vector<unsigned char> joined = Joined(old_, oldSize_, table);
  model.CacheTargets(true);
  DeltaStreams streams = WritePredictedStreams(
      joined.data(), target_, commands,
      [&](const DeltaCommand& command, uint64_t newPosition, unsigned char* bytes) {
        model.Predict(command.oldPosition, static_cast<size_t>(command.copy),
                      command.oldPosition + command.copy, newPosition - command.oldPosition, bytes);
      },
      Preamble(model, table.size()));
  streams.filter = DELTA_FILTER_PE_REFERENCES;
  streams.mapMinimum = mapMinimum;
  if (report != nullptr) {
    report->references = model.references.Size();
    report->corrections = model.corrections.Size();
    report->relocationSize = table.size();
    report->commands = commands;
  }
  return streams;
}

bool WriteReferenceStreams(const unsigned char* old, size_t oldSize, const unsigned char* target,
                           size_t targetSize, uint64_t mapMinimum, DeltaStreams* streams,
                           ReferenceStreamsReport* report) {
  ReferenceEncoder encoder;
  if (!encoder.Open(old, oldSize, target, targetSize)) return false;
  const SuffixIndex index(encoder.AlignedOld().data(), oldSize);
  const std::vector<DeltaCommand> commands =
      AlignFiles(index, encoder.AlignedNew().data(), targetSize, AlignOptions(), nullptr);
  *streams = encoder.Write(commands, mapMinimum, report);
  return true;
}
