#include "disk/safe_removal.h"

#include <functional>
#include <string>

#include "app/clock.h"
#include "app/globals.h"
#include "app/log.h"
#include "disk/disk_record.h"
#include "disk/disk_table.h"
#include "disk/drive_letters.h"
#include "disk/inventory.h"
#include "platform/imagedisk/image_disk.h"
#include "platform/sysinfo.h"

namespace fw {
namespace {

constexpr int kUsbBus = 7;

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The record of the disk that owns the selected row (a partition row stands for its disk).
const DiskRecord* SelectedDiskRecord() {
  const int row = SelectedDriveListRow();
  const std::vector<DriveListRow>& rows = DriveListRows();
  if (row < 0 || row >= static_cast<int>(rows.size())) return nullptr;
  const bool partitionRow = rows[static_cast<size_t>(row)].level == 1;
  for (const DiskRecord& d : DiskRecords()) {
    if (!partitionRow && d.ListItem == row) return &d;
    if (partitionRow)
      for (int i = 0; i < 4; ++i) {
        const PartitionEntry& p = d.Partitions[static_cast<size_t>(i)];
        if (p.ListItem == row && p.PartitionLength != 0) return &d;
      }
  }
  return nullptr;
}

using RemovalStep = std::function<bool(std::string* reason)>;

// How the system is asked to let go of the disk; empty when it cannot be.
RemovalStep ChooseRemoval(DriveRemovalService& system, const NumberedDisk& disk, std::string* why) {
  const DiskInfo& info = disk.info;
  if (disk.backend == &ImageDiskBackend()) {
    return [path = info.devicePath](std::string* reason) {
      if (DetachImageDisk(path)) return true;
      *reason = "the image is not attached: " + path;
      return false;
    };
  }
  if (StartsWith(info.name, "loop")) {
    return [&system, path = info.devicePath](std::string* reason) {
      return system.DetachLoop(path, reason);
    };
  }
  std::string noUDisks;
  if (system.UDisksAnswers(&noUDisks)) {
    return [&system, path = info.devicePath](std::string* reason) {
      return system.UDisksRemove(path, reason);
    };
  }
  FW_LOG("RemoveDriveByLetter: " + noUDisks);
  if (info.busCode == kUsbBus) {
    return [&system, name = info.name](std::string* reason) {
      return system.DeleteDevice(name, reason);
    };
  }
  *why = "no way to remove " + info.name + " without udisks2 (it is not a USB disk)";
  return {};
}

}  // namespace

int32_t RemoveDriveByLetter() { return RemoveDriveByLetter(SystemDriveRemoval()); }

int32_t RemoveDriveByLetter(DriveRemovalService& system, std::string* why) {
  std::string reason;
  // Every failure ends here: 0, and the reason for a caller that shows it.
  auto refuse = [&](const std::string& text) {
    if (why) *why = text;
    return 0;
  };
  const DiskRecord* record = SelectedDiskRecord();
  if (!record) {
    FW_LOG("RemoveDriveByLetter: no disk selected");
    return refuse("no disk selected");
  }
  const std::string disk = "Disk" + std::to_string(record->DiskNumber);
  const std::string letter = record->DriveLetters.substr(0, 1);
  if (letter.empty() || letter[0] < 'A' || letter[0] > 'Z') {
    FW_LOG("RemoveDriveByLetter: " + disk + " has no drive letter");
    return refuse(disk + " has no drive letter (no volume the program knows)");
  }
  VolumeLocation where;
  NumberedDisk numbered;
  if (!LookupDriveLetter(letter, &where) || !FindNumberedDisk(where.DiskNumber, &numbered)) {
    FW_LOG("hVolume = #INVALID_HANDLE_VALUE");
    return refuse("no volume " + letter + ": in the drive list");
  }
  const DiskInfo& info = numbered.info;
  if (info.systemDisk || letter == SystemDriveLetter()) {
    FW_LOG("RemoveDriveByLetter: " + disk + " holds the running system: not removed");
    return refuse(disk + " holds the running system");
  }
  FW_LOG("DeviceId= " + info.devicePath);

  int err = 0;
  if (!numbered.backend->Dismount(info, -1, &err)) {
    reason = "cannot unmount " + info.name + ": " + ErrnoText(err);
    FW_LOG("Failed " + reason);
    return refuse(reason);
  }
  if (!system.Flush(info.devicePath, &reason)) {
    FW_LOG("Failed " + reason);
    return refuse(reason);
  }
  RemovalStep remove = ChooseRemoval(system, numbered, &reason);
  int32_t result = 0;
  for (int attempt = 1; remove && attempt <= kRemovalTries; ++attempt) {
    FW_LOG("Tries #" + std::to_string(attempt));
    if (remove(&reason)) {
      result = 1;
      break;
    }
    FW_LOG("Refused: " + reason);
    Pause(kRemovalRetryMs);
  }
  FW_LOG(result ? std::string("Success") : "Failed " + reason);
  return result ? 1 : refuse(reason);
}

}  // namespace fw
