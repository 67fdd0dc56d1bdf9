#include "disk/disk_record.h"

namespace fw {

std::vector<DiskRecord>& DiskRecords() {
  static std::vector<DiskRecord> records;
  return records;
}

DiskRecord& CurrentDisk() {
  static DiskRecord current;
  return current;
}

}  // namespace fw
