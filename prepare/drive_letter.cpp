#include "prepare/drive_letter.h"

#include <cctype>

#include "app/clock.h"
#include "app/log.h"
#include "disk/disk_record.h"
#include "disk/drive_letters.h"
#include "disk/raw_access.h"
#include "platform/volume_files.h"

namespace fw {
namespace {

// The volume's stable name on the letter table, in the form the log shows.
std::string VolumeGuidPath(int32_t disk, int slot) {
  return "\\\\?\\Volume{flashwright-disk" + std::to_string(disk) + "-partition" +
         std::to_string(slot + 1) + "}\\";
}

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

bool ParsePartitionDeviceName(const std::string& DeviceName, int32_t& DiskNumber, int& Partition) {
  const std::string s = Lower(DeviceName);
  const std::string head = "\\device\\harddisk";
  if (s.compare(0, head.size(), head) != 0) return false;
  size_t i = head.size();
  const size_t digits = i;
  long disk = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && i - digits < 3)
    disk = disk * 10 + (s[i++] - '0');
  if (i == digits || disk > 49) return false;
  const std::string mid = "\\partition";
  if (s.compare(i, mid.size(), mid) != 0) return false;
  i += mid.size();
  if (i + 1 != s.size() || s[i] < '1' || s[i] > '4') return false;
  DiskNumber = static_cast<int32_t>(disk);
  Partition = s[i] - '0';
  return true;
}

std::string AssignDriveLetter(const std::string& DeviceName) {
  int32_t disk = -1;
  int partition = 0;
  const bool named = ParsePartitionDeviceName(DeviceName, disk, partition);
  // A partition that is lettered already keeps its letter; otherwise the lowest free one.
  std::string FirstFreeRootName;
  if (named)
    for (const DiskRecord& d : DiskRecords())
      if (d.DiskNumber == disk) FirstFreeRootName = d.Partitions[partition - 1].DriveLetter;
  const uint32_t mask = UsedDriveLetterMask();
  for (int i = 2; i <= 25 && FirstFreeRootName.empty(); ++i)
    if (!(mask & (1u << i))) FirstFreeRootName = std::string(1, static_cast<char>('A' + i)) + ":";
  FW_LOG("AssignDriveLetter: FirstFreeRootName = " + FirstFreeRootName);
  if (FirstFreeRootName.empty() || !named) {
    FW_LOG("AssignDriveLetter: 1-st DefineDosDevice Error for " + DeviceName);
    return "";
  }
  FW_LOG("AssignDriveLetter: 1-st DefineDosDevice Success");
  const std::string guid = VolumeGuidPath(disk, partition - 1);
  FW_LOG("AssignDriveLetter: 2-nd DefineDosDevice Success");
  const std::string letter = fw::AssignDriveLetter(disk, partition - 1);
  if (letter.empty()) {
    FW_LOG("AssignDriveLetter: Error mount " + guid + " on " + FirstFreeRootName + "\\");
    return "";
  }
  FW_LOG("AssignDriveLetter: Success mount " + guid + " on " + letter + "\\");
  return letter;
}

int RemountVolume(const std::string& Drive) {
  std::string root = Drive;
  if (root.empty() || root.back() != '\\') root += "\\";
  const std::string letter = root.substr(0, root.size() - 1);
  VolumeLocation where;
  if (!LookupDriveLetter(letter, &where)) {
    FW_LOG("Error get VolumeGUIDpath for " + root);
    return 1;
  }
  const std::string guid = VolumeGuidPath(where.DiskNumber, where.slot);
  Pause(200);
  // Read the volume afresh: boot sector, file system, label.
  const DriveHandle h = GetDriveHandle(where.DiskNumber, letter, false, false);
  BlockDevice* dev = h == kInvalidHandle ? nullptr : DeviceForHandle(h);
  std::vector<uint8_t> boot(dev ? dev->SectorSize() : 0);
  if (!dev || !dev->ReadSectors(0, 1, boot.data())) {
    if (h != kInvalidHandle) CloseHandle(h);
    FW_LOG("Error remount " + root);
    return 0;
  }
  std::string fileSystem, label;
  if (auto files = OpenVolumeFiles(*dev)) {
    fileSystem = files->FileSystemName();
    label = files->Label();
  }
  CloseHandle(h);
  auto update = [&](DiskRecord& d) {
    if (d.DiskNumber != where.DiskNumber || where.slot < 0 || where.slot > 3) return;
    PartitionEntry& p = d.Partitions[static_cast<size_t>(where.slot)];
    if (!fileSystem.empty()) {
      p.FileSystem = fileSystem;
      p.VolumeName = label;
    }
  };
  for (auto& d : DiskRecords()) update(d);
  update(CurrentDisk());
  FW_LOG("Success remount " + guid + " on " + root);
  return 1;
}

}  // namespace fw
