// Safe removal of the disk selected in the drive tree (the Eject button, flashwright-cli eject).
//
// The disk is found as the drive tree shows it: the disk that owns the selected row (a partition
// row stands for its whole disk) and its first drive letter; a disk without a letter is left
// alone. The system disk is refused. Otherwise the disk's mounted partitions are unmounted, its
// cached data flushed, and the system is asked to remove it: an attached image file leaves the
// drive tree, a loop device is detached, any other disk goes to udisks2 (Drive.PowerOff, or
// Drive.Eject when it cannot power off) when that service answers, else a USB disk is deleted
// from the kernel's SCSI layer through sysfs. Up to 5 tries, 500 ms apart (through the clock).
#pragma once

#include <cstdint>
#include <string>

#include "platform/drive_removal.h"

namespace fw {

// 1 when the system accepted the removal, 0 otherwise (with the reason in *why when given; the
// desktop program shows none: the refreshed tree shows whether the disk is gone). The caller
// refreshes the drive tree afterwards whatever the result.
int32_t RemoveDriveByLetter();
int32_t RemoveDriveByLetter(DriveRemovalService& system, std::string* why = nullptr);

inline constexpr int kRemovalTries = 5;
inline constexpr int kRemovalRetryMs = 500;

}  // namespace fw
