// Partition boot record merge: the loader's boot code combined with the file-system fields the
// formatter wrote into the volume's boot sector.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fw {

// Builds the PBR to write: `image` (n × 512 bytes, n = 1 for FAT32, 2 for exFAT) with bytes
// 3..89 (FAT32, "FAT32" or "FAT32-LBA") or 0..119 ("exFAT") taken from `formatterSectors`.
// Returns false, with a message, when the formatter's boot sector does not hold the expected
// file system (a failed read, or another file system): nothing may then be written, since the
// merged sector would carry no valid file-system fields.
bool MergePartitionBootRecord(const std::vector<uint8_t>& formatterSectors,
                              const std::vector<uint8_t>& image, const std::string& fileSystem,
                              std::vector<uint8_t>* merged, std::string* why);

}  // namespace fw
