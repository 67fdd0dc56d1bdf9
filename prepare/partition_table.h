// The disk-level writer of the format job: wipes old partitioning at both ends of the disk, builds
// a classic MBR table with one or two primary partitions, writes it with the MBR boot code and a
// fresh disk signature into sector 0, and zeroes the first sector of each new partition.
//
//   std::string why;
//   if (!CheckPartitionLayout(CurrentDisk(), settings, &why)) { /* tell the user, stop */ }
//   ClearMBRGPT(h, bps, size);
//   PartitionTableBytes pt = BuildPartitionTable(CurrentDisk(), settings);
//   WriteMbrAndClearPbrs(h, bps, mbrImage, pt, NewSignature());
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/settings.h"
#include "disk/disk_record.h"
#include "disk/raw_access.h"

namespace fw {

inline constexpr uint32_t kChsHeads = 255;
inline constexpr int64_t kChsLimit = 16450559;  // 1024 × 255 × 63 − 1
inline constexpr int kWipedSectorsPerEnd = 128;

// Bytes 446..511 of an MBR: four 16-byte entries and the 0x55 0xAA signature.
using PartitionTableBytes = std::array<uint8_t, 66>;

struct ChsFields {
  uint8_t head = 0;
  uint16_t cylAndSect = 0;
};
// CHS fields of sector `x` with `sectorsPerTrack` (≥ 1) and 255 heads. `limitValue` is the value
// compared with the CHS limit: above it the fields are 254 / 0xFFFF.
ChsFields ChsOf(int64_t x, uint32_t sectorsPerTrack, int64_t limitValue);

// The first sector of partition 1: StartLBASector, or 63 when it is not below GeometrySectors
// (or is not a number).
int64_t FirstPartitionStart(const DiskRecord& disk, const SettingsRecord& s);

// The sector count of partition 1 as the table will hold it (cut to 2^32 - 1 on a huge disk).
int64_t FirstPartitionSectors(const DiskRecord& disk, const SettingsRecord& s);

// False, with a message for the user, when the layout cannot be written: no room left for
// partition 2, or a boot partition that does not fit the disk or the 32-bit sector fields. A disk
// of more than 2^32 sectors is accepted; the last partition is then clamped to what the fields
// hold and `note` (when given) says so.
bool CheckPartitionLayout(const DiskRecord& disk, const SettingsRecord& s, std::string* why,
                          std::string* note = nullptr);

// Zeroes sectors 0..127 and the last 128 sectors. 1 when every sector was zeroed; 0 when a write
// fell short or FormatStatus was set (it is checked before each write).
int ClearMBRGPT(DriveHandle hDrive, int64_t BytesPerSector, int64_t DiskSize);

// Builds the table (entries 0 and, with MultiPartitions 1, 1; type 0x06; entry 0 active) and logs
// every field. Callers check the layout with CheckPartitionLayout first.
PartitionTableBytes BuildPartitionTable(const DiskRecord& disk, const SettingsRecord& s);

// StartingSector of entry i (0..3) of a table.
uint32_t EntryStartingSector(const PartitionTableBytes& pt, int i);
uint32_t EntryNumberOfSects(const PartitionTableBytes& pt, int i);

// The new disk signature: the tick count in milliseconds.
uint32_t NewSignature();

// The sector-0 image: BytesPerSector bytes, bytes 0..439 and 444..445 from `mbrImage` (512 bytes,
// or empty for no boot code), the signature at 440, the table at 446, zeros past 512.
std::vector<uint8_t> ComposeMbrSector(const std::vector<uint8_t>& mbrImage,
                                      const PartitionTableBytes& pt, uint32_t signature,
                                      int64_t BytesPerSector);

// Writes sector 0, zeroes the first sector of every partition of the table, asks the system to
// re-read the layout, logging each step. 1 when sector 0 was written, 0 otherwise.
int WriteMbrAndClearPbrs(DriveHandle hDrive, int64_t BytesPerSector,
                         const std::vector<uint8_t>& mbrImage, const PartitionTableBytes& pt,
                         uint32_t signature);

}  // namespace fw
