// NTFS and UDF through the system's mkntfs (ntfs-3g) and mkudffs (udftools). The tools write
// into a sparse scratch file of the volume's size; its written extents are then copied into the
// volume window, so any window of any disk (image file or device, no partition node needed)
// can be formatted without root rights or loop devices.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/block_device.h"

namespace fw::fat {

struct MkfsRequest {
  std::string fileSystem;  // "NTFS" or "UDF"
  std::string label;
  bool quick = true;  // false: the parts of the volume the tool leaves unwritten are zeroed
  uint32_t clusterSize = 0;
  uint64_t partitionStartSector = 0;
  uint16_t sectorsPerTrack = 63;
  uint16_t heads = 255;
  std::function<bool(int percent)> progress;  // false = stop
};

struct MkfsOutcome {
  bool ok = false;
  int error = 0;  // errno of a failed transfer into the volume (0 = the tool failed)
  std::vector<std::string> output;  // the tool's output lines
};

MkfsOutcome RunMkfs(BlockDevice& volume, const MkfsRequest& request);

// Runs the same tool with the same arguments on a scratch file of `sizeBytes` only, so that a
// size or label the tool refuses is known before any volume is touched. ok, or the tool's output.
MkfsOutcome CheckMkfs(const MkfsRequest& request, uint64_t sizeBytes, uint32_t sectorSize);

}  // namespace fw::fat
