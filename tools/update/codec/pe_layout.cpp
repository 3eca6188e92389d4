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
  for (const PeSection& section : sections) {
    if (rva - section.address < MappedSize(section) && rva >= section.address) {
      *offset = section.rawOffset + (rva - section.address);
      return true;
    }
  }
  return false;
}

bool PeLayout::OffsetToRva(uint64_t offset, uint32_t* rva) const {
  for (const PeSection& section : sections) {
    if (offset >= section.rawOffset && offset - section.rawOffset < MappedSize(section)) {
      *rva = section.address + static_cast<uint32_t>(offset - section.rawOffset);
      return true;
    }
  }
  return false;
}

bool PeLayout::OffsetToRvaRun(uint64_t offset, uint32_t* shift, uint64_t* begin,
                              uint64_t* end) const {
  // The first section that holds `offset` maps it; the sections before it
  // that it overlaps cut its run short.
  uint64_t from = 0, to = UINT64_MAX;
  for (const PeSection& section : sections) {
    const uint64_t start = section.rawOffset, stop = start + MappedSize(section);
    if (offset >= start && offset < stop) {
      *shift = section.address - section.rawOffset;
      *begin = start > from ? start : from;
      *end = stop < to ? stop : to;
      return true;
    }
    if (stop <= offset && stop > from) from = stop;
    if (start > offset && start < to) to = start;
  }
  return false;
}

int PeLayout::SectionOf(uint32_t rva) const {
  for (size_t i = 0; i < sections.size(); ++i) {
    const PeSection& section = sections[i];
    const uint32_t extent =
        section.virtualSize > section.rawSize ? section.virtualSize : section.rawSize;
    if (rva >= section.address && rva - section.address < extent) return static_cast<int>(i);
  }
  return -1;
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
