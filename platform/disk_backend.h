// The one disk-device interface behind the inventory and raw access. Two backends implement it:
// Linux block devices (platform/linux/block_backend.h) and attached disk-image files
// (platform/imagedisk/image_disk.h). The core never talks to a device except through it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/block_device.h"

namespace fw {

// What a backend knows about one whole disk before it is opened.
struct DiskInfo {
  std::string key;         // stable identity across inventories ("block:sdb", "image:/x.img")
  std::string devicePath;  // node or file that Open() uses ("/dev/sdb", "/tmp/x.img")
  std::string name;        // short name for the log ("sdb", "x.img")
  int busCode = 0;         // bus type code of the storage descriptor (7 = USB, 15 = file backed)
  std::string VendorId;    // trimmed, "" if none
  std::string ProductId;   // trimmed, "" if none
  uint32_t DriveType = 3;  // 2 removable, 3 fixed
  int64_t DiskLength = 0;  // bytes; 0 = no medium
  uint32_t BytesPerSector = 512;
  // Holds something the running system uses (mounted at /, /boot, /usr, ..., active swap, or a
  // member of a device-mapper/md/LVM stack). Such a disk is never opened for writing.
  bool systemDisk = false;
  // Byte offset (from the start of the disk) of the partition mounted at "/", or -1.
  int64_t rootPartitionOffset = -1;
  // The kernel's media sequence number when the disk was listed (0 = unknown). Open() refuses a
  // disk whose number has changed since: another stick, or another file on the same loop device.
  uint64_t diskSeq = 0;
};

// An exclusive claim on a whole disk; released when destroyed.
class DiskLock {
 public:
  virtual ~DiskLock() = default;
};

class DiskBackend {
 public:
  virtual ~DiskBackend() = default;
  virtual std::string Name() const = 0;

  // The disks this backend offers now. Never throws; a disk it cannot describe is left out and
  // logged. Sets *accessDenied when some disk could not be opened for lack of rights.
  virtual std::vector<DiskInfo> Enumerate(bool* accessDenied) = 0;

  // Opens the whole disk. nullptr on failure with an errno-style code in *error. A system disk
  // is refused for writing with EPERM whatever the caller asks.
  virtual std::unique_ptr<BlockDevice> Open(const DiskInfo& disk, bool forWrite, int* error) = 0;

  // Takes exclusive use of the whole disk (O_EXCL for block devices, an advisory lock for image
  // files). nullptr with *error set when someone else uses it (a mounted partition, say).
  virtual std::unique_ptr<DiskLock> Lock(const DiskInfo& disk, int* error) = 0;

  // Unmounts every mount of the partition that starts at byte `offset` (any partition when
  // offset < 0). True when nothing of it stays mounted.
  virtual bool Dismount(const DiskInfo& disk, int64_t offset, int* error) = 0;

  // Asks the system to re-read the partition table (best effort; true when it did).
  virtual bool RereadPartitions(const DiskInfo& disk, BlockDevice& device) = 0;
};

// The backends the inventory asks, in order: the Linux block devices, then the image files.
// Tests replace the list (a block backend over a fake root, say); the pointers are not owned.
std::vector<DiskBackend*>& DiskBackends();
// Restores the default list.
void ResetDiskBackends();

}  // namespace fw
