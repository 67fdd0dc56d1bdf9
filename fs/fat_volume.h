// File access on a FAT32 or exFAT volume without mounting it (see platform/volume_files.h).
#pragma once

#include <memory>

#include "platform/block_device.h"
#include "platform/volume_files.h"

namespace fw::fat {

// Why the last OpenVolume failed, for the log and the tests.
enum class OpenError { None, NoFileSystem, Damaged, IoError };

// Opens the volume on `volume` (which must outlive the result); nullptr on failure with the
// reason in `error` when given. Every change is written out by Flush() (and, as a last resort,
// when the object is destroyed).
std::unique_ptr<VolumeFiles> OpenVolume(BlockDevice& volume, OpenError* error = nullptr);

}  // namespace fw::fat
