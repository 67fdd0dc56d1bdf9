// Test fixture: a small HFS+ volume holding a few files in its root folder, written from scratch
// (Debian has no mkfs.hfsplus). The recovery packages nest disk images inside HFS+ volumes
// (RecoveryHDMeta.dmg holds BaseSystem.dmg as a file), and the archiver reads such a volume to
// pull a file out, so the fixture must be a volume it can walk: volume header, allocation file,
// an empty extents tree and a one-leaf catalog tree.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace fwtest {

// name -> contents; names are ASCII. Returns the whole volume (a multiple of 4096 bytes).
std::string MakeHfsPlusVolume(const std::string& volumeName,
                              const std::vector<std::pair<std::string, std::string>>& files);

}  // namespace fwtest
