// The workers' disk over this program's inventory and raw access, and the job-table starters.
#include "app/models/jobs.h"
#include "disk/inventory.h"
#include "disk/raw_access.h"
#include "images/image_jobs.h"

namespace fw {

namespace detail {
void SetDefaultImageJobDisk(ImageJobDisk* disk);
}  // namespace detail

namespace {

class SystemDisk final : public ImageJobDisk {
 public:
  int32_t SetCurrentDisk() override { return fw::SetCurrentDisk(); }
  int32_t UpdateAllDrives() override { return fw::UpdateAllDrives(); }
  DriveHandle GetDriveHandle(int32_t diskNumber, const std::string& letter, bool forWrite,
                             bool lock) override {
    return fw::GetDriveHandle(diskNumber, letter, forWrite, lock);
  }
  BlockDevice* DeviceForHandle(DriveHandle h) override { return fw::DeviceForHandle(h); }
  int UnmountDrive(DriveHandle h) override { return fw::UnmountDrive(h); }
  int UnlockDrive(DriveHandle h) override { return fw::UnlockDrive(h); }
  void CloseHandle(DriveHandle h) override { fw::CloseHandle(h); }
  int64_t read_sectors(DriveHandle h, int64_t ss, int64_t first, int64_t n, void* b) override {
    return fw::read_sectors(h, ss, first, n, b);
  }
  int64_t write_sectors(DriveHandle h, int64_t ss, int64_t first, int64_t n,
                        const void* b) override {
    return fw::write_sectors(h, ss, first, n, b);
  }
  int RereadPartitionTable(DriveHandle h) override { return fw::RereadPartitionTable(h); }
};

SystemDisk gSystemDisk;

}  // namespace

void UseSystemImageJobDisk() { detail::SetDefaultImageJobDisk(&gSystemDisk); }

void RegisterImageJobs() {
  UseSystemImageJobDisk();
  TheJobs().StartBackUp = StartBackUp;
  TheJobs().StartRecover = StartRecover;
}

}  // namespace fw
