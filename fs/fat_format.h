// The built-in formatter: lays out a FAT32 or exFAT file system on a volume window of a disk.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/block_device.h"

namespace fw::fat {

enum class FsKind { Fat32, Exfat };

struct FormatOptions {
  FsKind kind = FsKind::Fat32;
  std::string label;         // UTF-8; empty = none
  uint32_t clusterSize = 0;  // bytes; 0 = the default for the volume's size
  bool quick = true;         // false: the whole data area is zeroed as well
  // Where the volume starts on its disk, in sectors (hidden sectors / partition offset); the
  // first data cluster is aligned to 1 MiB of the disk from it.
  uint64_t partitionStartSector = 0;
  uint16_t sectorsPerTrack = 63;
  uint16_t heads = 255;
  uint32_t volumeSerial = 0;  // 0 = derived from the time of day
  // Called with the percentage done; returning false stops the format (FormatResult::Cancelled).
  std::function<bool(int percent)> progress;
};

enum class FormatResult {
  Ok,
  TooSmall,  // fewer clusters than the file system allows
  TooBig,    // more sectors or clusters than the file system can address
  UnsupportedClusterSize,
  BadLabel,
  IoError,  // a read or write failed or came back short (errno in `error`)
  Cancelled,
};

struct FormatOutcome {
  FormatResult result = FormatResult::Ok;
  int error = 0;  // errno-style code of the failed transfer
  uint32_t clusterSize = 0;
  uint64_t clusterCount = 0;
};

FormatOutcome FormatVolume(BlockDevice& volume, const FormatOptions& options);

// What FormatVolume would answer for a volume of `sectorCount` sectors of `sectorSize`, without
// touching any: Ok with the cluster size and count, or the refusal (BadLabel, TooSmall, TooBig,
// UnsupportedClusterSize; clusterCount then holds the count where it was reached).
FormatOutcome PlanFormat(uint32_t sectorSize, uint64_t sectorCount, const FormatOptions& options);

// Offsets of the boot sector the formatter writes (the fields other code merges around).
inline constexpr size_t kFat32BootCodeOffset = 90;
inline constexpr size_t kExfatBootCodeOffset = 120;

}  // namespace fw::fat
