// Sector writes recorded in memory, for the partition-table tests in trees that build without
// the raw access layer.
#include <cstdint>
#include <vector>

#include "disk/raw_access.h"

namespace fw {
std::vector<int64_t> g_fakeWrites;
int64_t write_sectors(DriveHandle, int64_t SectorSize, int64_t StartSector, int64_t nSectors,
                      const void*) {
  g_fakeWrites.push_back(StartSector);
  return SectorSize * nSectors;
}
int RereadPartitionTable(DriveHandle) { return 1; }
}  // namespace fw
