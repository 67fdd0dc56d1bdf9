// What the inventory learns from a volume's own sectors: its file-system name and its label,
// as the system would report them ("FAT32", "FAT", "exFAT", "NTFS", "UDF"; label trimmed).
#pragma once

#include <string>

#include "platform/block_device.h"

namespace fw {

struct VolumeFacts {
  std::string FileSystem;  // "" when unknown
  std::string VolumeName;  // "" when none or unreadable
};

// Reads the boot sector (and for FAT/exFAT the first root-directory cluster) of `volume`.
// Never reads outside the device; garbage gives empty facts.
VolumeFacts ProbeVolume(BlockDevice& volume);

// File systems that get a drive letter.
bool IsLetteredFileSystem(const std::string& fileSystem);

}  // namespace fw
