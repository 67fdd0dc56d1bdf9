// File-system creation on partition 1: the formatter driven through FormatExCallBack's commands,
// the exFAT boot checksum, and the partition-type fix for "FAT32-LBA".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/raw_access.h"
#include "platform/block_device.h"

namespace fw {

// Callback commands of the formatter.
enum FormatCommand : uint32_t {
  kFmtProgress = 0,  // argument: uint32_t percent
  kFmtDoneWithStructure = 1,
  kFmtIncompatibleFileSystem = 3,
  kFmtAccessDenied = 6,
  kFmtMediaWriteProtected = 7,
  kFmtVolumeInUse = 8,
  kFmtCantQuickFormat = 9,
  kFmtDone = 11,  // argument: uint32_t success flag (nonzero = success)
  kFmtBadLabel = 12,
  kFmtOutput = 14,
  kFmtStructureProgress = 15,
  kFmtClusterSizeTooSmall = 16,
  kFmtClusterSizeTooBig = 17,
  kFmtVolumeTooSmall = 18,
  kFmtVolumeTooBig = 19,
  kFmtNoMediaInDrive = 20,
};

// Acts on one formatter command (status line, log, FormatStatus); 1 = go on, 0 = stop.
int FormatExCallBack(uint32_t Command, uint32_t SubAction, void* ArgumentPointer);

// Formats `volume` (the window of partition 1) with "FAT32", "exFAT", "NTFS" or "UDF" and
// reports through FormatExCallBack. partitionStartSector and the geometry go into the boot
// sector. 1 when the format finished with FormatStatus still 0, else 0.
int FormatVolumeDevice(BlockDevice& volume, const std::string& FileSystemName,
                       const std::string& Label, bool QuickFormat, uint32_t ClusterSize,
                       uint64_t partitionStartSector, uint16_t sectorsPerTrack, uint16_t heads);

// Whether the formatter would take a volume of `sectorCount` sectors of `bytesPerSector` at
// `partitionStartSector` with this file system, label and cluster size, asked before anything is
// written: "" when it would; otherwise the formatter's own text ("Bad label", "Volume is too
// small", ...; for NTFS and UDF the tool's own line) with the reason.
std::string FormatterRefusal(uint32_t bytesPerSector, uint64_t partitionStartSector,
                             uint64_t sectorCount, const std::string& FileSystemName,
                             const std::string& Label, uint32_t ClusterSize,
                             uint16_t sectorsPerTrack, uint16_t heads);

// Formats the volume with drive letter `Drive` ("E:") of CurrentDisk.
int FormatDrive(const std::string& Drive, const std::string& FileSystemName,
                const std::string& Label, bool QuickFormat, uint32_t ClusterSize);

// The exFAT boot checksum over the first ByteCount bytes (logs it as the bytes on disk read).
uint32_t VBRChecksum(const uint8_t* Sectors, uint32_t ByteCount);

// Sets the type byte of MBR entry 0 to 0x0C. WriteBuffer is resized to one sector. A failed
// read of sector 0 leaves the disk untouched (writing the zeroed buffer back would erase the
// partition table). 1 on success, 0 on a failed read or write.
int FixFat32LbaType(BlockDevice& disk, std::vector<uint8_t>& WriteBuffer);
int FixFat32LbaType(DriveHandle hPhysicalDrive, uint32_t BytesPerSector,
                    std::vector<uint8_t>& WriteBuffer);

// Sets the type byte of MBR entry 0 to the one the formatted file system is known by: 0x0B for
// FAT32, 0x07 for exFAT and NTFS (other file systems keep the table's 0x06). Same read rule and
// result as FixFat32LbaType; 1 without a write when the file system keeps the byte.
int SetFirstPartitionType(BlockDevice& disk, const std::string& FileSystemName);
int SetFirstPartitionType(DriveHandle hPhysicalDrive, uint32_t BytesPerSector,
                          const std::string& FileSystemName);

}  // namespace fw
