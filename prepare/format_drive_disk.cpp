#include <cstdint>

#include "app/globals.h"
#include "app/log.h"
#include "disk/disk_record.h"
#include "prepare/format_drive.h"

// The handle-based entry points of the format job: they open partition 1 of CurrentDisk through
// the raw access layer and run the device-level formatter on it.
namespace fw {
namespace {
void ReportAccessDenied() {
  uint32_t argument = 0;
  FormatExCallBack(kFmtAccessDenied, 0, &argument);
}
}  // namespace

int FormatDrive(const std::string& Drive, const std::string& FileSystemName,
                const std::string& Label, bool QuickFormat, uint32_t ClusterSize) {
  DiskRecord& disk = CurrentDisk();
  FW_LOG("FormatDriveEx(" + Drive + ",0," + FileSystemName + "," + Label + "," +
         std::to_string(QuickFormat ? 1 : 0) + "," + std::to_string(ClusterSize) + "," +
         std::to_string(reinterpret_cast<uintptr_t>(&FormatExCallBack)) + ")");
  uint64_t start = 0;
  const uint32_t bps = disk.BytesPerSector ? disk.BytesPerSector : 512;
  for (int i = 0; i < 4; ++i)
    if (disk.Partitions[i].DriveLetter == Drive && disk.Partitions[i].PartitionLength > 0)
      start = static_cast<uint64_t>(disk.Partitions[i].StartingOffset) / bps;
  int result = 0;
  const DriveHandle h = GetDriveHandle(disk.DiskNumber, Drive, true, false);
  BlockDevice* dev = h == kInvalidHandle ? nullptr : DeviceForHandle(h);
  if (!dev) {
    FW_LOG("Error open volume " + Drive);
    ReportAccessDenied();
  } else {
    FormatVolumeDevice(*dev, FileSystemName, Label, QuickFormat, ClusterSize, start,
                       static_cast<uint16_t>(disk.SectorsPerTrack),
                       static_cast<uint16_t>(disk.TracksPerCylinder));
  }
  if (h != kInvalidHandle) CloseHandle(h);
  if (FormatStatus.load() == 0) {
    FW_LOG("Format completed");
    result = 1;
  } else {
    FW_LOG("Format error drive " + Drive);
  }
  return result;
}

int FixFat32LbaType(DriveHandle hPhysicalDrive, uint32_t BytesPerSector,
                    std::vector<uint8_t>& WriteBuffer) {
  BlockDevice* dev = DeviceForHandle(hPhysicalDrive);
  if (!dev || dev->SectorSize() != BytesPerSector) return 0;
  return FixFat32LbaType(*dev, WriteBuffer);
}

int SetFirstPartitionType(DriveHandle hPhysicalDrive, uint32_t BytesPerSector,
                          const std::string& FileSystemName) {
  BlockDevice* dev = DeviceForHandle(hPhysicalDrive);
  if (!dev || dev->SectorSize() != BytesPerSector) return 0;
  return SetFirstPartitionType(*dev, FileSystemName);
}

}  // namespace fw
