#include "disk/mbr_layout.h"

#include <string>

namespace fw {

namespace {

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

bool IsExtendedPartitionType(uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

MbrLayout ParseMbrLayout(const uint8_t* sector0, size_t size, int64_t diskLength,
                         uint32_t bytesPerSector) {
  MbrLayout layout;
  if (sector0 == nullptr || size < 512 || bytesPerSector == 0) {
    layout.failure = "sector 0 unreadable";
    return layout;
  }
  const bool signed55AA = sector0[510] == 0x55 && sector0[511] == 0xAA;
  if (signed55AA) {
    for (int i = 0; i < 4; ++i) {
      if (sector0[0x1BE + i * 16 + 4] == 0xEE) {
        layout.failure = "GPT protective MBR";
        return layout;
      }
    }
  }
  layout.isMbr = true;
  layout.Signature = Le32(sector0 + 440);
  layout.PartitionCount = 4;
  if (!signed55AA) return layout;

  const int64_t ss = bytesPerSector;
  uint32_t number = 0;
  for (int i = 0; i < 4; ++i) {
    const uint8_t* e = sector0 + 0x1BE + i * 16;
    const uint8_t type = e[4];
    const int64_t start = Le32(e + 8);
    const int64_t count = Le32(e + 12);
    if (type == 0 || count == 0) continue;
    const int64_t offset = start * ss;
    const int64_t length = count * ss;
    if (start == 0 || offset >= diskLength || length > diskLength - offset) {
      layout.notes.push_back("slot " + std::to_string(i + 1) + " (type " + std::to_string(type) +
                             ", start " + std::to_string(start) + ", " + std::to_string(count) +
                             " sectors) lies outside the disk; left out");
      continue;
    }
    PartitionEntry& p = layout.slots[static_cast<size_t>(i)];
    p.StartingOffset = offset;
    p.PartitionLength = length;
    p.HiddenSectors = static_cast<uint32_t>(start);
    p.PartitionType = type;
    p.BootIndicator = (e[0] & 0x80) ? 1 : 0;
    const bool extended = IsExtendedPartitionType(type);
    p.RecognizedPartition = extended ? 0 : 1;
    p.PartitionNumber = extended ? 0 : ++number;
  }
  for (int i = 0; i < 4; ++i) {
    for (int j = i + 1; j < 4; ++j) {
      const PartitionEntry& a = layout.slots[static_cast<size_t>(i)];
      const PartitionEntry& b = layout.slots[static_cast<size_t>(j)];
      if (a.PartitionLength == 0 || b.PartitionLength == 0) continue;
      if (a.StartingOffset < b.StartingOffset + b.PartitionLength &&
          b.StartingOffset < a.StartingOffset + a.PartitionLength)
        layout.notes.push_back("slots " + std::to_string(i + 1) + " and " + std::to_string(j + 1) +
                               " overlap");
    }
  }
  return layout;
}

}  // namespace fw
