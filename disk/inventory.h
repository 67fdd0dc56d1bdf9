// The disk inventory: every disk the backends offer, its MBR slots and volumes, the rows of the
// drive tree, and the selection that fills CurrentDisk.
//
// Typical use:
//   fw::UpdateAllDrives();                 // rebuild DiskRecords() and the drive-tree rows
//   fw::SelectDriveListRow(0);             // the GUI does this when the user clicks a row
//   if (!fw::SetCurrentDisk()) return 0;   // every job starts so
//   fw::CurrentDisk().DiskNumber, fw::CurrentDisk().SelectedPartition ...
// Tests and the CLI can select directly with SetCurrentDisk(diskNumber, slot).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/disk_record.h"
#include "disk/raw_access.h"

namespace fw {

// Rebuilds DiskRecords() from the backends; returns NumberOfDisks().
int32_t GetAllDrives();
// GetAllDrives, then refills the drive-tree rows, updates the status line (when no job runs) and
// tells the Ui (DriveListChanged). The selection stays on the disk and slot it was on when that
// disk (same device path or image file, same medium) is still listed (on the disk's own row when
// the slot is gone); otherwise row 0 is selected. Returns the disk count of GetAllDrives.
int32_t UpdateAllDrives();

int32_t NumberOfDisks();
int32_t NumberOfLogicalDrives();

// One row of the drive tree: level 0 = disk, level 1 = a partition of the disk above it.
struct DriveListRow {
  int level = 0;
  std::string text;
  int32_t diskNumber = -1;
  int slot = -1;  // 0..3 for partition rows, -1 for disk rows
};
const std::vector<DriveListRow>& DriveListRows();
// A copy of the rows and the selected row, taken together (for a front end on another thread).
std::vector<DriveListRow> DriveListRowsNow(int* selected);
// The selected row (-1 = none). Selecting an index outside the rows selects none.
int SelectedDriveListRow();
void SelectDriveListRow(int row);

// Copies the disk of the selected row into CurrentDisk and sets SelectedPartition; 1 when a
// row matched, 0 otherwise (CurrentDisk is then cleared).
int32_t SetCurrentDisk();
// Selects the row of disk `diskNumber` (slot -1) or of its slot 0..3, then SetCurrentDisk().
// Only shown rows can be selected; returns 0 when there is no such row.
int32_t SetCurrentDisk(int32_t diskNumber, int slot);

// The row texts ("USB: Generic Flash Disk 14.45 GB (E: F:)", "Part1: 200 MB FAT32 Act <ZOR> E:").
std::string DiskRowText(const DiskRecord& disk);
std::string PartitionRowText(const PartitionEntry& slot, int slotIndex);
// True when the disk is offered in the drive tree (USB always, fixed disks with EnableFixedDisks).
bool IsDiskOffered(const DiskRecord& disk);

// Length in bytes of an open disk or volume handle, 0 on failure.
int64_t DriveSize(DriveHandle handle);
// Label / file-system name of the volume with that letter ("E:" or "E:\"); "" on failure.
std::string DriveNameOfVol(const std::string& path);
std::string DriveNameOfFS(const std::string& path);

// Texts shared by the inventory and the front ends.
std::string DriveTypeNameOf(uint32_t driveType);
std::string BusTypeNameOf(int busCode);

// What kept the last inventory from opening a disk it would have offered ("" when nothing did):
// AccessProblemText of the first such disk. Disks that are not offered (the system's own, fixed
// disks while EnableFixedDisks is 0) do not count.
std::string InventoryAccessProblem();
inline constexpr const char* kNeedRightsText =
    "USB disks need administrator rights: run Flashwright as root (for example through pkexec)";
// kNeedRightsText for a refusal (EACCES, EPERM) that rights would cure; otherwise, and always
// for the administrator, "Cannot open " + device + ": " + the system's reason.
std::string AccessProblemText(const std::string& device, int error, bool administrator);

}  // namespace fw
