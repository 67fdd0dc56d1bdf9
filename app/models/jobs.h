// The jobs the windows start, as a table of entry points that the job owners fill in at start-up
// (before the event loop runs). The dispatcher calls through this table only; an entry that is
// still empty makes the command log and say in the status line that the job is not available in
// this build, so a front end never needs to know which jobs are linked in.
//
// Each starter runs on the UI thread and must return at once: a long job starts its own worker
// (std::thread owned by the job's module) and reports through Ui and the shared flags.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/models/ui_event.h"

namespace fw {

// One row of the drive tree (window 0, control 97), in display order.
struct DriveTreeRow {
  std::string text;          // "Disk 1: Kingston DataTraveler 3.0 (14.4 GB)" and the like
  bool isPartition = false;  // drawn indented under the disk row above it, with the partition icon
  bool selected = false;     // the row the next job uses; the tree shows it selected
};

struct Jobs {
  // Disk jobs: FormatThread(installDataSet), BackUp(1), Recover(1), ExtractHFSFromDMG(0).
  std::function<void(int)> StartFormat;
  std::function<void(int)> StartBackUp;
  std::function<void(int)> StartRecover;
  std::function<void(int)> StartExtractHFSFromDMG;
  // HFS+ drivers, run on the UI thread.
  std::function<void()> InstallHFSDrivers;
  std::function<void()> UnInstallHFSDrivers;
  // True when the drivers are installed: the Install item is then disabled and UnInstall enabled.
  std::function<bool()> HFSDriversInstalled;

  // Disk inventory.
  std::function<void()> UpdateAllDrives;
  // The rows of the drive tree; the one marked selected is the row the next job uses (also after
  // a refresh, which keeps a disk that is still there).
  std::function<std::vector<DriveTreeRow>()> DriveTreeRows;
  // The user selected row `row` of the drive tree (-1: none); copies that disk into CurrentDisk.
  std::function<void(int)> SetCurrentDisk;
  // Safe removal of the drive selected in the tree (the dispatcher refreshes the tree afterwards).
  std::function<void()> RemoveSelectedDrive;
  // Disk-image files as disks: attach an existing image, or create a sparse one of `bytes` and
  // attach it. Return 1 on success, 0 on failure (after telling the user why).
  std::function<int(const std::string& path)> AttachDiskImage;
  std::function<int(const std::string& path, int64_t bytes)> CreateDiskImage;

  // Download Center (window 2): open it, and its control events.
  std::function<void()> OpenDownloadCenter;
  std::function<void(const UiEvent&)> DownloadCenterEvent;
  // Its Recovery HD side (list 31), filled by the macOS image jobs: the list's rows, the Update
  // and DL starters (false when they did not start: another job runs, no such row) and Clear.
  std::function<std::vector<std::string>()> RecoveryHDRows;
  std::function<bool()> StartCheckRecoveryHD;
  std::function<bool(int row)> StartDLAndExtractHFSImageFromRecoveryHD;
  std::function<void()> ClearRecoveryHDList;

  // Clover distributions and the revision check.
  std::function<void(int)> CheckCloverLastRev;
  // Fills list 25 of the Configuration window; called directly with -65535 when the window opens.
  std::function<void(int)> RefreshCloverLocalDistrList;
  // Starts RefreshCloverLocalDistrList on a worker (after the local repository changed).
  std::function<void(int)> StartRefreshCloverLocalDistrList;
  std::function<int()> LocalDistrCount;
  // Shows the revision of the data set chosen in list 25 in text 80.
  std::function<void()> DisplayCloverLocalDistrRev;
  // Known Clover revisions, newest first, for list 26.
  std::function<std::vector<int>()> KnownCloverRevisions;

  // Settings file.
  std::function<void()> SaveSetting;
};

// The process's job table.
Jobs& TheJobs();

// For workers that end by refreshing the disk inventory: UpdateAllDrives through the table, then
// the drive tree is redrawn; nothing when the table has no inventory (tests, tools).
void UpdateAllDrivesFromWorker();

// The revision chosen in list 26 of the Configuration window for download; "0" until the user
// picks one.
std::string& CloverDLRev();

}  // namespace fw
