// Reading the MBR partition table from sector 0: the layout query of the inventory.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "disk/disk_record.h"

namespace fw {

struct MbrLayout {
  bool isMbr = false;   // false: GPT (protective 0xEE), or sector 0 unreadable
  std::string failure;  // why it is not an MBR layout
  uint32_t PartitionCount = 0;
  uint32_t Signature = 0;
  std::array<PartitionEntry, 4> slots{};
  std::vector<std::string> notes;  // slots that were left out, overlaps (for the log)
};

// Parses sector 0 (`sector0` holds at least 512 bytes) of a disk of `diskLength` bytes.
// A sector without the 55 AA signature is an MBR disk with empty slots (a blank stick). Slots
// of length 0 are empty; slots that start at or reach past the disk end are left empty and noted.
MbrLayout ParseMbrLayout(const uint8_t* sector0, size_t size, int64_t diskLength,
                         uint32_t bytesPerSector);

// True for the extended-partition container types (0x05, 0x0F, 0x85).
bool IsExtendedPartitionType(uint8_t type);

}  // namespace fw
