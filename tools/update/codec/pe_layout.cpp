#include "update/codec/pe_layout.h"

#include "update/base/little_endian.h"
#include "update/codec/byte_stream.h"

namespace {

constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kCodeFlags = 0x00000020u | 0x20000000u;  // contains code, executable
constexpr uint32_t kExportEntry = 0;
constexpr uint32_t kExceptionEntry = 3;
constexpr uint32_t kRelocationEntry = 5;

}  // namespace

uint32_t MappedSize(const PeSection& section) {
  if (section.virtualSize == 0 || section.virtualSize > section.rawSize) return section.rawSize;
  return section.virtualSize;
}

bool PeLayout::RvaToOffset(uint32_t rva, uint32_t* offset) const {
  uint64_t begin = 0, end = 0;
  uint32_t shift = 0;
  if (!RvaToOffsetRun(rva, &shift, &begin, &end)) return false;
  *offset = rva + shift;
  return true;
}

bool PeLayout::OffsetToRva(uint64_t offset, uint32_t* rva) const {
  uint64_t begin = 0, end = 0;
  uint32_t shift = 0;
  if (!OffsetToRvaRun(offset, &shift, &begin, &end)) return false;
  *rva = static_cast<uint32_t>(offset) + shift;
  return true;
}

int PeLayout::SectionOf(uint32_t rva) const {
  uint64_t begin = 0, end = 0;
  uint32_t section = 0;
  return SectionRun(rva, &section, &begin, &end) ? static_cast<int>(section) : -1;
}

namespace {

// The first section whose range ([start, stop) as `range` gives it) holds
// `value`, or -1; with the run of values around it that the same section
// is first for: the sections before it that it overlaps cut the run short.
template <typename Range>
int FirstSectionRun(const std::vector<PeSection>& sections, uint64_t value, Range range,
                    uint64_t* begin, uint64_t* end) {
  uint64_t from = 0, to = UINT64_MAX;
  for (size_t i = 0; i < sections.size(); ++i) {
    uint64_t start = 0, stop = 0;
    range(sections[i], &start, &stop);
    if (value >= start && value < stop) {
      *begin = start > from ? start : from;
      *end = stop < to ? stop : to;
      return static_cast<int>(i);
    }
    if (stop <= value && stop > from) from = stop;
    if (start > value && start < to) to = start;
  }
  return -1;
}

void MappedRange(const PeSection& section, uint64_t* start, uint64_t* stop) {
  *start = section.address;
  *stop = *start + MappedSize(section);
}

void FileRange(const PeSection& section, uint64_t* start, uint64_t* stop) {
  *start = section.rawOffset;
  *stop = *start + MappedSize(section);
}

void MemoryRange(const PeSection& section, uint64_t* start, uint64_t* stop) {
  *start = section.address;
  *stop = *start + (section.virtualSize > section.rawSize ? section.virtualSize : section.rawSize);
}

}  // namespace

bool PeLayout::OffsetToRvaRun(uint64_t offset, uint32_t* found, uint64_t* begin,
                              uint64_t* end) const {
  const int section = FirstSectionRun(sections, offset, FileRange, begin, end);
  if (section < 0) return false;
  *found = sections[section].address - sections[section].rawOffset;
  return true;
}

bool PeLayout::RvaToOffsetRun(uint64_t rva, uint32_t* found, uint64_t* begin, uint64_t* end) const {
  const int section = FirstSectionRun(sections, rva, MappedRange, begin, end);
  if (section < 0) return false;
  *found = sections[section].rawOffset - sections[section].address;
  return true;
}

bool PeLayout::SectionRun(uint64_t rva, uint32_t* found, uint64_t* begin, uint64_t* end) const {
  const int section = FirstSectionRun(sections, rva, MemoryRange, begin, end);
  if (section < 0) return false;
  *found = static_cast<uint32_t>(section);
  return true;
}

uint16_t CoffMachineOf(const unsigned char* bytes, size_t size) {
  if (size < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') return 0;
  const uint32_t pe = ReadLe32(bytes + 0x3C);
  if (pe > size || size - pe < 24 || ReadLe32(bytes + pe) != 0x00004550u) return 0;
  return ReadLe16(bytes + pe + 4);
}

bool ParsePeLayout(const unsigned char* bytes, size_t size, uint64_t fileSize, PeLayout* layout) {
  const uint16_t machine = CoffMachineOf(bytes, size);
  if (machine == 0) return false;
  const uint32_t pe = ReadLe32(bytes + 0x3C);
  const uint32_t sectionCount = ReadLe16(bytes + pe + 6);
  const uint32_t optionalSize = ReadLe16(bytes + pe + 20);
  const uint32_t optional = pe + 24;
  if (sectionCount > PE_SECTIONS_MAX || optionalSize > size - optional || optionalSize < 2) {
    return false;
  }
  const uint16_t magic = ReadLe16(bytes + optional);
  uint32_t directories = 0;  // offset of the data directories in the optional header
  if (machine == COFF_MACHINE_X86 && magic == kMagicPe32 && optionalSize >= 96) {
    layout->machine = PeMachine::X86;
    layout->imageBase = ReadLe32(bytes + optional + 28);
    directories = 96;
  } else if (machine == COFF_MACHINE_X64 && magic == kMagicPe32Plus && optionalSize >= 112) {
    layout->machine = PeMachine::X64;
    layout->imageBase = ReadLe64(bytes + optional + 24);
    directories = 112;
  } else {
    return false;
  }
  layout->imageSize = ReadLe32(bytes + optional + 56);
  // Targets below the image size stay clear of REFERENCE_NO_TARGET.
  if (layout->imageSize >= PE_IMAGE_SIZE_MAX - 1) return false;
  const uint32_t directoryCount = ReadLe32(bytes + optional + directories - 4);
  PeDirectory* wanted[] = {&layout->exports, &layout->exceptions, &layout->relocations};
  const uint32_t indexes[] = {kExportEntry, kExceptionEntry, kRelocationEntry};
  for (size_t i = 0; i < 3; ++i) {
    *wanted[i] = PeDirectory();
    const uint32_t at = directories + 8 * indexes[i];
    if (indexes[i] >= directoryCount || at + 8 > optionalSize) continue;
    wanted[i]->address = ReadLe32(bytes + optional + at);
    wanted[i]->size = ReadLe32(bytes + optional + at + 4);
  }
  const uint32_t table = optional + optionalSize;
  if (sectionCount * kSectionHeaderSize > size - table) return false;
  layout->sections.clear();
  for (uint32_t i = 0; i < sectionCount; ++i) {
    const unsigned char* header = bytes + table + i * kSectionHeaderSize;
    PeSection section;
    section.virtualSize = ReadLe32(header + 8);
    section.address = ReadLe32(header + 12);
    section.rawSize = ReadLe32(header + 16);
    section.rawOffset = ReadLe32(header + 20);
    section.code = (ReadLe32(header + 36) & kCodeFlags) != 0;
    // A section's memory must lie inside the image the model can address.
    const uint64_t extent =
        section.virtualSize > section.rawSize ? section.virtualSize : section.rawSize;
    if (section.address > PE_IMAGE_SIZE_MAX || extent > PE_IMAGE_SIZE_MAX) return false;
    // Data past the file's end is not there: the image is truncated.
    if (section.rawOffset >= fileSize) {
      section.rawSize = 0;
    } else if (section.rawSize > fileSize - section.rawOffset) {
      section.rawSize = static_cast<uint32_t>(fileSize - section.rawOffset);
    }
    layout->sections.push_back(section);
  }
  return true;
}

bool ReadPeLayout(ByteSource& source, PeLayout* layout) {
  const uint64_t fileSize = source.Size();
  const uint32_t want =
      static_cast<uint32_t>(fileSize < PE_HEADERS_READ ? fileSize : PE_HEADERS_READ);
  DecodeBuffer headers = AllocateDecodeBuffer(PE_HEADERS_READ);
  uint32_t got = 0;
  if (!headers || !source.ReadAt(0, headers.get(), want, &got) || got != want) return false;
  return ParsePeLayout(headers.get(), got, fileSize, layout);
}
