// Partition backup and restore: the workers behind the Backup (control 3) and Restore (control 4)
// buttons of the main window, and the CLI's backup/restore commands.
//
//   fw::RegisterImageJobs();          // at start-up: fills TheJobs().StartBackUp / StartRecover
//   fw::BackUp(1); fw::Recover(1);    // worker entries (1 = ran to the end, 0 = early exit)
//
// Both copy the partition selected in the drive tree (CurrentDisk after SetCurrentDisk) to or from
// a raw image file: byte k of the file is byte k of the partition, no header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/ui.h"
#include "disk/raw_access.h"

namespace fw {

// Controls of the main window the workers touch.
inline constexpr int kBackupButton = 3;
inline constexpr int kRestoreButton = 4;
inline constexpr int kDriveList = 97;
// The HFS+ partition type a restore writes into the partition's MBR entry.
inline constexpr uint8_t kHfsPartitionType = 0xAF;

// The disk services the workers use; the default forwards to the inventory and raw access.
// Tests put a fake under the workers with SetImageJobDiskForTesting.
class ImageJobDisk {
 public:
  virtual ~ImageJobDisk() = default;
  virtual int32_t SetCurrentDisk() = 0;
  virtual int32_t UpdateAllDrives() = 0;
  virtual DriveHandle GetDriveHandle(int32_t diskNumber, const std::string& driveLetter,
                                     bool forWrite, bool lock) = 0;
  virtual BlockDevice* DeviceForHandle(DriveHandle handle) = 0;
  virtual int UnmountDrive(DriveHandle handle) = 0;
  virtual int UnlockDrive(DriveHandle handle) = 0;
  virtual void CloseHandle(DriveHandle handle) = 0;
  virtual int64_t read_sectors(DriveHandle handle, int64_t sectorSize, int64_t startSector,
                               int64_t nSectors, void* buffer) = 0;
  virtual int64_t write_sectors(DriveHandle handle, int64_t sectorSize, int64_t startSector,
                                int64_t nSectors, const void* buffer) = 0;
  virtual int RereadPartitionTable(DriveHandle handle) = 0;
};
// The disk the workers use: until UseSystemImageJobDisk (or RegisterImageJobs) runs, one that
// refuses every selection, so nothing is touched by accident.
ImageJobDisk& TheImageJobDisk();
// Installs the inventory and raw access of this program as the workers' disk.
void UseSystemImageJobDisk();
// nullptr restores the previous default.
void SetImageJobDiskForTesting(ImageJobDisk* disk);

// How a run ended, for callers that care (the CLI's exit status).
struct ImageJobOutcome {
  int result = 0;          // the worker's 1 / 0
  bool cancelled = false;  // the user cancelled the copy (or its verification)
  bool copied = false;     // every byte was copied (and, for a restore, the MBR entry rewritten)
  bool verified = false;   // asked for: the written side read back the same as its source
};

struct ImageJobOptions {
  // After a complete copy, read the written side back and compare it with the source
  // (images/image_verify.h).
  bool verify = false;
};

int BackUp(int parameter);
int Recover(int parameter);
ImageJobOutcome RunBackUp(const ImageJobOptions& options = {});
ImageJobOutcome RunRecover(const ImageJobOptions& options = {});

// Starters for the job table: each starts its worker on a detached thread unless a disk job runs.
void StartBackUp(int parameter);
void StartRecover(int parameter);
void RegisterImageJobs();

// The chooser filters of both workers ("Binary (*.bin)", "HFS/HFS+ (*.hfs)", ...).
std::vector<FileFilter> ImageFileFilters();
// Default path offered by the choosers: the ZORImageLocalRepo folder plus "PartSave.bin".
std::string DefaultImagePath();
// True when `path` may be the image file of a copy to or from `disk`: a regular file (or, for a
// backup, a new name) that is not the storage of the disk itself. Otherwise says why in a box.
bool ImagePathAccepted(const std::string& path, const BlockDevice& disk, bool backup);

}  // namespace fw
