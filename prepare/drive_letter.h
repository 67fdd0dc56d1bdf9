// Drive letters for the format job: a letter for partition 1 before the format, and a remount
// after its boot sector was replaced, on the program's virtual letter table (disk/drive_letters.h).
#pragma once

#include <cstdint>
#include <string>

namespace fw {

// DeviceName: "\device\harddisk" + DiskNumber + "\partition" + n (n = 1..4). Gives that
// partition the lowest free letter from C: to Z: (or the letter it already has) and returns it
// without backslash ("E:"), or "" on any failure ("no letter found" when C: to Z: are taken).
std::string AssignDriveLetter(const std::string& DeviceName);

// Re-reads the boot sector and file-system state of the volume at Drive ("E:" or "E:\") and
// records its file system and label in the inventory records. 0 when the volume was lettered but
// can no longer be read; 1 in every other case.
int RemountVolume(const std::string& Drive);

// Parses a device name of the form above; false when it is not one.
bool ParsePartitionDeviceName(const std::string& DeviceName, int32_t& DiskNumber, int& Partition);

}  // namespace fw
