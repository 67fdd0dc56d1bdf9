// Raw access to whole disks and to volumes (MBR partitions addressed as windows of their disk).
// Handles are small integers; -1 means "not opened" throughout.
#pragma once

#include <cstdint>
#include <string>

#include "platform/block_device.h"

namespace fw {

using DriveHandle = int64_t;
inline constexpr DriveHandle kInvalidHandle = -1;

// Opens the physical disk `DiskNumber` (DriveLetter empty) or the volume with that letter ("E:").
// Refuses write access while CurrentDisk holds the system drive letter, and the system volume
// always. Lock = exclusive use (O_EXCL on the whole disk, advisory lock on an image file); a
// volume lock is tried 20 times, 500 ms apart.
DriveHandle GetDriveHandle(int32_t DiskNumber, const std::string& DriveLetter, bool ForWrite,
                           bool Lock);
// Why the last GetDriveHandle on this thread failed: an errno value (EPERM for the system disk,
// ENOENT for an unknown disk or letter, the system's code for a refused open or lock); 0 after a
// success.
int DriveHandleError();
// Dismounts a volume (unmounts any mount of that partition); 1 or 0.
int UnmountDrive(DriveHandle handle);
// Releases the lock taken by GetDriveHandle; 1 or 0.
int UnlockDrive(DriveHandle handle);
// Closes a handle from GetDriveHandle (releasing any lock).
void CloseHandle(DriveHandle handle);

// Bytes read (0 when positioning fails).
int64_t read_sectors(DriveHandle handle, int64_t SectorSize, int64_t StartSector, int64_t nSectors,
                     void* Buffer);
// nSectors × SectorSize when every byte was written; 0 on any failure.
int64_t write_sectors(DriveHandle handle, int64_t SectorSize, int64_t StartSector, int64_t nSectors,
                      const void* Buffer);

// The device behind an open handle (the whole disk, or the volume's window of it), for the
// FAT32/exFAT engine and the image copies; nullptr for an invalid handle. Owned by the handle.
BlockDevice* DeviceForHandle(DriveHandle handle);

// Asks the system to re-read the partition table of the disk behind a handle (BLKRRPART for block
// devices; nothing to do for image files). 1 when it did, 0 otherwise; only logged by callers.
int RereadPartitionTable(DriveHandle handle);
// Number of open handles (tests check that every path closes what it opened).
int OpenHandleCount();

}  // namespace fw
