// The backend disk behind each DiskNumber of the last inventory (internal to disk/).
#pragma once

#include <cstdint>
#include <string>

#include "platform/disk_backend.h"

namespace fw {

struct NumberedDisk {
  DiskBackend* backend = nullptr;
  DiskInfo info;
};

// Finds disk `n` of the last inventory; false when there is none.
bool FindNumberedDisk(int32_t n, NumberedDisk* out);
// Number for a backend key: the one it had before, else the lowest free (0..49); -1 when full.
int32_t NumberForKey(const std::string& key);
// Replaces the table with the disks of a new inventory.
void BeginDiskTable();
void AddNumberedDisk(int32_t n, DiskBackend* backend, const DiskInfo& info);

}  // namespace fw
