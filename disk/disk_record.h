// The disk and partition-slot records of the inventory, and the selected disk.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace fw {

struct PartitionEntry {
  // Copy of the partition information as the layout query returns it.
  int64_t StartingOffset = 0;   // bytes from the start of the disk
  int64_t PartitionLength = 0;  // bytes; 0 marks an empty slot
  uint32_t HiddenSectors = 0;
  uint32_t PartitionNumber = 0;  // 1-based
  uint8_t PartitionType = 0;     // MBR system indicator
  uint8_t BootIndicator = 0;     // nonzero = active
  uint8_t RecognizedPartition = 0;
  uint8_t RewritePartition = 0;
  // This program's own fields.
  int32_t ListItem = -1;
  std::string DriveLetter;  // "E:" or ""
  std::string VolumeName;   // label, trimmed
  std::string FileSystem;   // "FAT32", "exFAT", "NTFS", "UDF", ...
};

struct DiskRecord {
  int32_t ListItem = -1;
  int32_t DiskNumber = -1;  // 0..49
  uint32_t PartitionCount = 0;
  std::string DriveLetters;  // "E: F:"
  uint32_t Signature = 0;
  std::array<PartitionEntry, 50> Partitions{};  // only 0..3 are ever filled
  int64_t Cylinders = 0;
  uint32_t MediaType = 0;
  uint32_t TracksPerCylinder = 0;
  uint32_t SectorsPerTrack = 0;
  uint32_t BytesPerSector = 512;
  int64_t DiskSize = 0;
  uint32_t DriveType = 0;
  std::string DriveTypeName;
  std::string BusType;
  std::string ProductId;
  std::string VendorId;
  std::string ImageFile;  // the absolute path of an attached disk-image file; "" for a device
  int64_t DiskLength = 0;
  int64_t GeometrySectors = 0;
  uint8_t SelectedPartition = 0;  // CurrentDisk only: 0 = whole disk, 1..4 = slot 0..3
};

// All recorded disks in DiskNumber order, and the copy of the selected one.
std::vector<DiskRecord>& DiskRecords();
DiskRecord& CurrentDisk();

}  // namespace fw
