#include <atomic>

#include "app/globals.h"
#include "app/workers.h"
#include "disk/disk_record.h"
#include "images/image_jobs.h"

namespace fw {

namespace {

// Refuses every selection, so a worker started before the disks are wired in touches nothing.
class NoDisk final : public ImageJobDisk {
 public:
  int32_t SetCurrentDisk() override {
    CurrentDisk() = DiskRecord{};
    return 0;
  }
  int32_t UpdateAllDrives() override { return 0; }
  DriveHandle GetDriveHandle(int32_t, const std::string&, bool, bool) override {
    return kInvalidHandle;
  }
  BlockDevice* DeviceForHandle(DriveHandle) override { return nullptr; }
  int UnmountDrive(DriveHandle) override { return 0; }
  int UnlockDrive(DriveHandle) override { return 0; }
  void CloseHandle(DriveHandle) override {}
  int64_t read_sectors(DriveHandle, int64_t, int64_t, int64_t, void*) override { return 0; }
  int64_t write_sectors(DriveHandle, int64_t, int64_t, int64_t, const void*) override { return 0; }
  int RereadPartitionTable(DriveHandle) override { return 0; }
};

NoDisk gNoDisk;
std::atomic<ImageJobDisk*> gDefault{&gNoDisk};
std::atomic<ImageJobDisk*> gOverride{nullptr};

}  // namespace

ImageJobDisk& TheImageJobDisk() {
  ImageJobDisk* d = gOverride.load();
  return d ? *d : *gDefault.load();
}

void SetImageJobDiskForTesting(ImageJobDisk* disk) { gOverride = disk; }

void StartBackUp(int parameter) {
  if (format_op_in_progress) return;
  // Claimed here, on the UI thread, so a second press cannot start a second job meanwhile.
  format_op_in_progress = 1;
  StartWorker([parameter] { BackUp(parameter); });
}

void StartRecover(int parameter) {
  if (format_op_in_progress) return;
  format_op_in_progress = 1;
  StartWorker([parameter] { Recover(parameter); });
}

namespace detail {
void SetDefaultImageJobDisk(ImageJobDisk* disk) { gDefault = disk ? disk : &gNoDisk; }
}  // namespace detail

}  // namespace fw
